// CSV: a header row of column names, then one row per point, values separated by commas.
// Values are written as the viewer's PCD rows write them (six decimals), the timestamp as a
// whole number. The reader takes the separator of the header row (comma, semicolon or tab),
// reads the columns whose names it knows and ignores the others.
#include "BlockWriter.h"
#include "FormatIo.h"
#include "TextNumbers.h"

#include <memory>
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

class CsvWriter : public BlockPointWriter {
public:
    explicit CsvWriter(std::vector<Field> fields) : m_fields(std::move(fields)) {}

protected:
    std::string begin(std::ostream& out) override {
        startBlocks(out);
        for (std::size_t c = 0; c < m_fields.size(); ++c) {
            if (c > 0) {
                m_out->character(',');
            }
            m_out->text(fieldName(m_fields[c]));
        }
        m_out->endLine();
        return {};
    }

    std::string put(const DataPoint* points, std::size_t n) override {
        BlockWriter& w = *m_out;
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t c = 0; c < m_fields.size(); ++c) {
                if (c > 0) {
                    w.character(',');
                }
                const double v = fieldValue(points[i], m_fields[c]);
                if (m_fields[c] == Field::Timestamp) {
                    w.shortest(v);
                } else {
                    w.fixed(v);
                }
            }
            w.endLine();
        }
        return {};
    }

private:
    std::vector<Field> m_fields;
};

class CsvReader : public PointReader {
protected:
    bool start(const std::string&) override {
        m_format = Format::Csv;
        std::string_view line;
        if (!m_in.line(line)) {
            m_error = m_in.tooLong() ? "the header row is too long" : "the file is empty";
            return false;
        }
        if (line.size() >= 3 && line.substr(0, 3) == "\xEF\xBB\xBF") {
            line.remove_prefix(3); // a byte order mark, as spreadsheets write it
        }
        if (line.find(',') == std::string_view::npos) {
            m_separator = line.find(';') != std::string_view::npos ? ';' : '\t';
        }
        const std::string header(line);
        std::string_view rest = header;
        for (;;) {
            const std::size_t cut = rest.find(m_separator);
            const std::string_view name = unquoted(rest.substr(0, cut));
            const std::optional<Field> field = fieldFromName(name);
            if (field && !isSelected(m_fields, *field)) {
                setSelected(m_fields, *field, true);
                m_columns.push_back(static_cast<int>(*field));
            } else {
                m_columns.push_back(-1);
            }
            if (cut == std::string_view::npos) {
                break;
            }
            rest.remove_prefix(cut + 1);
        }
        if (!m_fields.x && !m_fields.y && !m_fields.z) {
            m_error = "the header row names no x, y or z column";
            return false;
        }
        return true;
    }

    bool next(std::vector<DataPoint>& chunk) override {
        chunk.clear();
        std::string_view line;
        while (chunk.size() < kChunkPoints && m_in.line(line)) {
            ++m_number;
            if (trimmed(line).empty()) {
                continue;
            }
            DataPoint p;
            std::size_t column = 0;
            for (;;) {
                const std::size_t cut = line.find(m_separator);
                if (column >= m_columns.size()) {
                    m_error = lineNumber(m_number) + "more values than the header row has names";
                    return false;
                }
                if (m_columns[column] >= 0) {
                    const std::string_view text = unquoted(line.substr(0, cut));
                    double v = 0.0;
                    if (!parseNumber(text, v)) {
                        m_error = lineNumber(m_number) + "'" + std::string(text.substr(0, 40)) +
                                  "' is not a number";
                        return false;
                    }
                    if (isSelected(m_wanted, static_cast<Field>(m_columns[column]))) {
                        setFieldValue(p, static_cast<Field>(m_columns[column]), v);
                    }
                }
                ++column;
                if (cut == std::string_view::npos) {
                    break;
                }
                line.remove_prefix(cut + 1);
            }
            if (column != m_columns.size()) {
                m_error = lineNumber(m_number) + "fewer values than the header row has names";
                return false;
            }
            chunk.push_back(p);
        }
        if (m_in.tooLong()) {
            m_error = lineNumber(m_number + 1) + "the row is too long";
            return false;
        }
        return !chunk.empty() || finished();
    }

private:
    char m_separator = ',';
    std::vector<int> m_columns; // column index to field; -1 for columns not read
    std::uint64_t m_number = 1;
};

} // namespace

std::unique_ptr<PointWriter> csvWriter(const std::vector<Field>& fields) {
    return std::make_unique<CsvWriter>(fields);
}

std::unique_ptr<PointReader> csvReader() {
    return std::make_unique<CsvReader>();
}

} // namespace formats::io
