#include "Output.h"

#include "Failure.h"
#include "McapOutput.h"
#include "OutputFile.h"

#include <chrono>
#include <cstdio>
#include <sys/stat.h>

namespace cli {

std::string formatNames() {
    std::string names;
    for (const formats::FormatInfo& info : formats::allFormats()) {
        names += (names.empty() ? "" : ", ") + std::string(info.name);
    }
    return names;
}

std::string fieldNames() {
    std::string names;
    for (int i = 0; i < formats::kFieldCount; ++i) {
        names += (names.empty() ? "" : ",") +
                 std::string(formats::fieldName(static_cast<formats::Field>(i)));
    }
    return names;
}

Destination chooseOutput(const std::string& path, const std::string& formatName, bool force) {
    Destination out;
    out.path = path;
    if (formatName == "mcap" || (formatName.empty() && isMcap(path))) {
        out.mcap = true;
    } else if (!formatName.empty()) {
        const std::optional<formats::Format> f = formats::formatFromName(formatName);
        if (!f) {
            usageError("unknown format '" + formatName + "' (formats: " + formatNames() +
                       ", mcap)");
        }
        out.format = *f;
    } else {
        const std::optional<formats::Format> f = formats::formatFromExtension(path);
        if (!f) {
            usageError("cannot tell the format of '" + path +
                       "' from its extension: give --format (" + formatNames() + ", mcap)");
        }
        out.format = *f;
    }
    struct stat st {};
    if (!force && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        usageError("'" + path + "' exists: give --force to replace it");
    }
    return out;
}

void checkWritable(const Destination& output) {
    formats::OutputFile probe(output.path);
    std::string error;
    if (!probe.open(error)) {
        failed("cannot write '" + output.path + "': " + error);
    }
    probe.discard();
}

std::optional<formats::FieldSelection> parseFields(const std::string& list) {
    if (list.empty()) {
        return std::nullopt;
    }
    formats::FieldSelection s = formats::noFields();
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        const std::string name = list.substr(start, comma - start);
        const std::optional<formats::Field> f = formats::fieldFromName(name);
        if (!f) {
            usageError("unknown field '" + name + "' (fields: " + fieldNames() + ")");
        }
        formats::setSelected(s, *f, true);
        start = comma + 1;
    }
    return s;
}

void writePoints(const Destination& output, const std::deque<DataPoint>& points,
                 const formats::FieldSelection& fields, ProgressLine& line) {
    if (output.mcap) {
        const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::chrono::system_clock::now().time_since_epoch());
        writePointsMcap(output.path, points, static_cast<std::uint64_t>(now.count()),
                        output.mcapOptions);
        return;
    }
    formats::WriteOptions options;
    options.fields = fields;
    const std::string what = "writing " + output.path;
    const formats::Outcome o = formats::write(
        output.path, output.format, points, options,
        [&line, &what](std::uint64_t done, std::uint64_t total) { line.share(what, done, total); });
    line.end();
    if (!o.ok) {
        failed("cannot write '" + output.path + "': " + o.error);
    }
}

} // namespace cli
