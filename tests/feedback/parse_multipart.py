#!/usr/bin/env python3
"""Parses a recorded HTTP request with a multipart/form-data body using Python's own e-mail parser.

usage: parse_multipart.py REQUEST_FILE OUT_FOLDER

Prints one line per form part, "part N name=NAME filename=FILENAME type=TYPE size=BYTES", and writes
each part's payload to OUT_FOLDER/part-N.bin. Exits 1 when the body is not a multipart message.
"""
import email.parser
import email.policy
import os
import sys


def main():
    request_path, out_folder = sys.argv[1], sys.argv[2]
    with open(request_path, "rb") as f:
        raw = f.read()
    head, _, body = raw.partition(b"\r\n\r\n")
    content_type = None
    for line in head.split(b"\r\n")[1:]:
        key, _, value = line.partition(b":")
        if key.strip().lower() == b"content-type":
            content_type = value.strip()
    if content_type is None:
        print("no Content-Type header")
        return 1
    message = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(
        b"MIME-Version: 1.0\r\nContent-Type: " + content_type + b"\r\n\r\n" + body)
    if not message.is_multipart():
        print("not multipart")
        return 1
    for number, part in enumerate(message.iter_parts(), start=1):
        payload = part.get_payload(decode=True)
        with open(os.path.join(out_folder, "part-%d.bin" % number), "wb") as f:
            f.write(payload)
        name = part.get_param("name", header="content-disposition")
        print("part %d name=%s filename=%s type=%s size=%d" % (
            number, name, part.get_filename() or "", part.get_content_type(), len(payload)))
    defects = [str(d) for d in message.defects]
    for part in message.iter_parts():
        defects += [str(d) for d in part.defects]
    print("defects %d" % len(defects))
    return 0


if __name__ == "__main__":
    sys.exit(main())
