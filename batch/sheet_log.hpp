#pragma once
// A sheet's log, OUTDIR/logs/SHEET.log: what the run printed, its messages
// line by line as printed (empty lines left out), without the per-row counters it redraws in place
// on a terminal ("2/4724\r3/4724\r..."): only the last counter it printed is
// kept, as the log's last line, to show how far the run got. A run's log so
// stays a few kilobytes, however many tiles and rows it painted.

#include <fstream>
#include <streambuf>
#include <string>

namespace georef::batch {

class SheetLog : private std::streambuf {
public:
    // Creates (or truncates) path; IsOpen() says whether it could.
    explicit SheetLog(const std::string& path);
    ~SheetLog() override;
    SheetLog(const SheetLog&) = delete;
    SheetLog& operator=(const SheetLog&) = delete;

    bool IsOpen() const { return m_file.is_open(); }
    // The stream the run prints to (its out and err both); owned by this object.
    std::ostream& Stream() noexcept { return m_stream; }

private:
    int overflow(int c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int sync() override;
    void Put(char c);

    std::ofstream m_file;
    std::ostream m_stream;
    std::string m_line;         // the line being printed
    std::string m_lastCounter;  // the text the last '\r' ended
};

}  // namespace georef::batch
