// A stream buffer that passes everything written to it on to another stream and writes each
// complete, non-empty line to the diagnostic log as well (app/diagnostic_log.h). For code that
// already writes diagnostic lines to a stream (the eject): `LineLogBuffer b(std::cout, "eject");
// std::ostream out(&b);`. A last line without line end is logged when the buffer is destroyed.
#pragma once

#include <ostream>
#include <streambuf>
#include <string>

namespace krevol {

class LineLogBuffer : public std::streambuf {
  public:
    LineLogBuffer(std::ostream& target, std::string area);
    ~LineLogBuffer() override;
    LineLogBuffer(const LineLogBuffer&) = delete;
    LineLogBuffer& operator=(const LineLogBuffer&) = delete;

  protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override;

  private:
    void take(char c);

    std::ostream& target_;
    std::string area_;
    std::string line_;
};

}  // namespace krevol
