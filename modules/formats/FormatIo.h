#pragma once

// The readers and writers of each format behind PointStream.h. Internal to the formats module.

#include "BlockWriter.h"
#include "Fields.h"
#include "PcdFile.h"
#include "PointStream.h"

#include <memory>
#include <vector>

namespace formats::io {

enum class PcdData { Ascii, Binary, BinaryCompressed };

// Every format's writer puts its bytes through one block writer on the file's stream, flushed at
// the end.
class BlockPointWriter : public PointWriter {
protected:
    BlockWriter& startBlocks(std::ostream& out) {
        m_out = std::make_unique<BlockWriter>(out);
        return *m_out;
    }
    std::string end() override {
        m_out->flush();
        return {};
    }

    std::unique_ptr<BlockWriter> m_out;
};

// Readers not yet started; openReader starts them on their file.
std::unique_ptr<PointReader> pcdReader();
std::unique_ptr<PointReader> plyReader();
std::unique_ptr<PointReader> lasReader();
std::unique_ptr<PointReader> csvReader();

// Writers not yet begun; createWriter opens their file and begins them.
std::unique_ptr<PointWriter> pcdWriter(const std::vector<Field>& fields, PcdData data);
std::unique_ptr<PointWriter> pcdLx20Writer(const FieldSelection& selection,
                                           const Lx20Formats& formats);
std::unique_ptr<PointWriter> plyWriter(const std::vector<Field>& fields, bool binary);
std::unique_ptr<PointWriter> lasWriter(const FieldSelection& selection);
std::unique_ptr<PointWriter> csvWriter(const std::vector<Field>& fields);

} // namespace formats::io
