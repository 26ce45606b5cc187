// CSV: a header row of column names, then one row per point, values separated by commas.
// Values are written as the viewer's PCD rows write them (six decimals), the timestamp as a
// whole number. The reader takes the separator of the header row (comma, semicolon or tab),
// reads the columns whose names it knows and ignores the others.
#include "BlockWriter.h"
#include "FormatIo.h"
#include "TextNumbers.h"

#include <string>

namespace formats::io {

namespace {

std::string lineNumber(std::uint64_t line) {
    return "line " + std::to_string(line) + ": ";
}

std::string_view unquoted(std::string_view s) {
    s = trimmed(s);
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') {
        s = s.substr(1, s.size() - 2);
    }
    return s;
}

} // namespace

std::string writeCsv(std::ostream& out, const std::deque<DataPoint>& points,
                     const std::vector<Field>& fields, Ticker& ticker) {
    BlockWriter w(out);
    for (std::size_t c = 0; c < fields.size(); ++c) {
        if (c > 0) {
            w.character(',');
        }
        w.text(fieldName(fields[c]));
    }
    w.endLine();
    forEachPoint(points, ticker, [&](const DataPoint& p) {
        for (std::size_t c = 0; c < fields.size(); ++c) {
            if (c > 0) {
                w.character(',');
            }
            const double v = fieldValue(p, fields[c]);
            if (fields[c] == Field::Timestamp) {
                w.shortest(v);
            } else {
                w.fixed(v);
            }
        }
        w.endLine();
    });
    return {};
}

void readCsv(InputFile& in, ReadResult& result, Ticker& ticker) {
    result.format = Format::Csv;
    std::string_view line;
    std::uint64_t number = 1;
    if (!in.line(line)) {
        result.error = in.tooLong() ? "the header row is too long" : "the file is empty";
        return;
    }
    if (line.size() >= 3 && line.substr(0, 3) == "\xEF\xBB\xBF") {
        line.remove_prefix(3); // a byte order mark, as spreadsheets write it
    }
    char separator = ',';
    if (line.find(',') == std::string_view::npos) {
        separator = line.find(';') != std::string_view::npos ? ';' : '\t';
    }

    // Column index to field; -1 for columns not read.
    std::vector<int> columns;
    std::string header(line);
    std::string_view rest = header;
    for (;;) {
        const std::size_t cut = rest.find(separator);
        const std::string_view name = unquoted(rest.substr(0, cut));
        const std::optional<Field> field = fieldFromName(name);
        if (field && !isSelected(result.fields, *field)) {
            setSelected(result.fields, *field, true);
            columns.push_back(static_cast<int>(*field));
        } else {
            columns.push_back(-1);
        }
        if (cut == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(cut + 1);
    }
    if (!result.fields.x && !result.fields.y && !result.fields.z) {
        result.error = "the header row names no x, y or z column";
        return;
    }

    while (in.line(line)) {
        ++number;
        if (!ticker.at(in.position())) {
            return;
        }
        if (trimmed(line).empty()) {
            continue;
        }
        DataPoint p;
        std::size_t column = 0;
        for (;;) {
            const std::size_t cut = line.find(separator);
            if (column >= columns.size()) {
                result.error = lineNumber(number) + "more values than the header row has names";
                return;
            }
            if (columns[column] >= 0) {
                const std::string_view text = unquoted(line.substr(0, cut));
                double v = 0.0;
                if (!parseNumber(text, v)) {
                    result.error = lineNumber(number) + "'" + std::string(text.substr(0, 40)) +
                                   "' is not a number";
                    return;
                }
                setFieldValue(p, static_cast<Field>(columns[column]), v);
            }
            ++column;
            if (cut == std::string_view::npos) {
                break;
            }
            line.remove_prefix(cut + 1);
        }
        if (column != columns.size()) {
            result.error = lineNumber(number) + "fewer values than the header row has names";
            return;
        }
        result.points.push_back(p);
    }
    if (in.tooLong()) {
        result.error = lineNumber(number + 1) + "the row is too long";
    }
}

} // namespace formats::io
