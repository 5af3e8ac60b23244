// Receiving the form parts of a log upload from the multipart reader of the HTTP server.
#pragma once

#include <httplib.h>

#include <filesystem>

#include "sandbox/upload_check.h"

namespace krevol::sandbox {

enum class PartsRead {
    Read,         // the body was read to its end
    Malformed,    // the multipart reader failed, or the body holds what a log upload never has
    WriteFailed,  // the archive part could not be stored
};

// Reads the parts of a multipart body into `record.parts`. The first part's bytes are written to
// `archiveFile` (created or replaced; opened when that part begins), its size and CRC-32 go to
// `record.archiveBytes` and `record.archiveCrc32`; the text of a later part is kept up to 1 KiB. A
// third part, data before any part header or a longer text stop the read (Malformed). The file may
// be left behind whatever the outcome: the caller moves or removes it.
PartsRead receiveUploadParts(const httplib::ContentReader& reader, const std::filesystem::path& archiveFile,
                             ReceivedUpload& record);

}  // namespace krevol::sandbox
