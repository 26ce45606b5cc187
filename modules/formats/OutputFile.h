#pragma once

// A file written under a temporary name beside its final one and renamed onto it only when
// complete, so that a failed or cancelled write never leaves a partial file under the final name
// and an existing file stays as it was until the new one replaces it. A path that names
// something other than a regular file (a device such as /dev/stdout, a pipe) is written in place.
// One object per file, used by one thread.

#include <fstream>
#include <string>

namespace formats {

class OutputFile {
public:
    explicit OutputFile(std::string path);
    ~OutputFile(); // removes the temporary file unless committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the temporary file; false with the reason in error.
    bool open(std::string& error);
    std::ostream& stream() { return m_out; }

    // Flushes and closes the stream and renames the file onto its final name; false with the
    // reason (the temporary file is then removed).
    bool commit(std::string& error);

    // Closes and removes the temporary file.
    void discard();

    // The name being written, once open: the temporary one, or the final one when writing in
    // place. For writers that open the file themselves.
    const std::string& writtenPath() const { return m_inPlace ? m_path : m_temp; }

private:
    std::string m_path; // final name (a symbolic link's target when it names one)
    std::string m_temp; // name written to; empty when writing in place
    bool m_inPlace = false;
    bool m_open = false;
    std::ofstream m_out;
};

} // namespace formats
