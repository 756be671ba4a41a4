// SPDX-License-Identifier: GPL-3.0-or-later
#include "intelhex.h"

#include <algorithm>

namespace flashing {
namespace {

enum RecordType : uint8_t {
    kData = 0x00,
    kEndOfFile = 0x01,
    kExtendedSegmentAddress = 0x02,
    kStartSegmentAddress = 0x03,
    kExtendedLinearAddress = 0x04,
    kStartLinearAddress = 0x05,
};

int hexValue(uint8_t c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

struct Record {
    uint8_t type = 0;
    uint16_t offset = 0;
    std::vector<uint8_t> payload;
};

// Decodes one line without its line ending.
HexError decodeLine(const uint8_t *line, size_t length, Record &record)
{
    if (line[0] != ':')
        return HexError::MissingColon;
    std::vector<uint8_t> bytes;
    bytes.reserve(length / 2);
    for (size_t i = 1; i < length; ++i) {
        if (hexValue(line[i]) < 0)
            return HexError::NonHexCharacter;
    }
    if ((length - 1) % 2 != 0 || length < 11)
        return HexError::LengthMismatch;
    for (size_t i = 1; i + 1 < length; i += 2)
        bytes.push_back(uint8_t(hexValue(line[i]) << 4 | hexValue(line[i + 1])));
    if (bytes.size() != size_t(bytes[0]) + 5)
        return HexError::LengthMismatch;
    uint8_t sum = 0;
    for (uint8_t b : bytes)
        sum = uint8_t(sum + b);
    if (sum != 0)
        return HexError::BadChecksum;
    record.offset = uint16_t(bytes[1] << 8 | bytes[2]);
    record.type = bytes[3];
    record.payload.assign(bytes.begin() + 4, bytes.end() - 1);
    return HexError::None;
}

HexError checkRecordShape(const Record &record)
{
    const size_t n = record.payload.size();
    switch (record.type) {
    case kData: return HexError::None;
    case kEndOfFile: return n == 0 ? HexError::None : HexError::MalformedRecord;
    case kExtendedSegmentAddress:
    case kExtendedLinearAddress: return n == 2 ? HexError::None : HexError::MalformedRecord;
    case kStartSegmentAddress:
    case kStartLinearAddress: return n == 4 ? HexError::None : HexError::MalformedRecord;
    default: return HexError::UnknownRecordType;
    }
}

// Sorts the pieces, refuses overlaps and merges the ones that touch.
HexError assemble(std::vector<Segment> pieces, FirmwareImage &image)
{
    std::stable_sort(pieces.begin(), pieces.end(),
                     [](const Segment &a, const Segment &b) { return a.address < b.address; });
    for (Segment &piece : pieces) {
        if (piece.data.empty())
            continue;
        if (!image.segments.empty()) {
            Segment &last = image.segments.back();
            if (uint64_t(piece.address) < last.end())
                return HexError::OverlappingData;
            if (uint64_t(piece.address) == last.end()) {
                last.data.insert(last.data.end(), piece.data.begin(), piece.data.end());
                continue;
            }
        }
        image.segments.push_back(std::move(piece));
    }
    return HexError::None;
}

} // namespace

const char *hexErrorText(HexError error)
{
    switch (error) {
    case HexError::None: return "no error";
    case HexError::MissingColon: return "line does not start with ':'";
    case HexError::NonHexCharacter: return "non-hexadecimal character";
    case HexError::LengthMismatch: return "record length does not match its byte count";
    case HexError::BadChecksum: return "bad checksum";
    case HexError::UnknownRecordType: return "unknown record type";
    case HexError::MalformedRecord: return "malformed address or end record";
    case HexError::MissingEndOfFile: return "missing end-of-file record";
    case HexError::DataAfterEndOfFile: return "data after the end-of-file record";
    case HexError::OverlappingData: return "overlapping data";
    case HexError::AddressOverflow: return "data beyond the 32-bit address space";
    case HexError::TooLarge: return "file too large";
    case HexError::Empty: return "no data";
    }
    return "unknown error";
}

HexParseResult parseIntelHex(const uint8_t *text, size_t size)
{
    HexParseResult result;
    if (size > kMaxImageFileBytes) {
        result.error = HexError::TooLarge;
        return result;
    }
    std::vector<Segment> pieces;
    uint32_t base = 0;
    bool ended = false;
    size_t lineNumber = 0;
    size_t pos = 0;
    while (pos < size) {
        size_t end = pos;
        while (end < size && text[end] != '\n')
            ++end;
        ++lineNumber;
        size_t length = end - pos;
        if (length > 0 && text[pos + length - 1] == '\r')
            --length;
        const uint8_t *line = text + pos;
        pos = end + 1;
        if (length == 0)
            continue;
        auto fail = [&](HexError e) {
            result.error = e;
            result.line = lineNumber;
            result.image = {};
            return result;
        };
        if (ended)
            return fail(HexError::DataAfterEndOfFile);
        Record record;
        HexError e = decodeLine(line, length, record);
        if (e == HexError::None)
            e = checkRecordShape(record);
        if (e != HexError::None)
            return fail(e);
        switch (record.type) {
        case kData: {
            const uint64_t address = uint64_t(base) + record.offset;
            if (address + record.payload.size() > 0x100000000ull)
                return fail(HexError::AddressOverflow);
            pieces.push_back(Segment{uint32_t(address), std::move(record.payload)});
            break;
        }
        case kEndOfFile: ended = true; break;
        case kExtendedSegmentAddress:
            base = uint32_t(record.payload[0] << 8 | record.payload[1]) << 4;
            break;
        case kExtendedLinearAddress:
            base = uint32_t(record.payload[0] << 8 | record.payload[1]) << 16;
            break;
        default: break; // start addresses do not place data
        }
    }
    if (!ended) {
        result.error = HexError::MissingEndOfFile;
        return result;
    }
    result.error = assemble(std::move(pieces), result.image);
    if (result.error == HexError::None && result.image.empty())
        result.error = HexError::Empty;
    if (result.error != HexError::None)
        result.image = {};
    return result;
}

FirmwareImage imageFromBinary(const uint8_t *bytes, size_t size, uint32_t address)
{
    FirmwareImage image;
    if (size == 0 || uint64_t(address) + size > 0x100000000ull)
        return image;
    image.segments.push_back(Segment{address, std::vector<uint8_t>(bytes, bytes + size)});
    return image;
}

namespace {

void appendRecord(std::string &out, uint8_t type, uint16_t offset, const uint8_t *data, size_t n)
{
    static const char kDigits[] = "0123456789ABCDEF";
    auto appendByte = [&out](uint8_t b) {
        out += kDigits[b >> 4];
        out += kDigits[b & 0xF];
    };
    uint8_t sum = uint8_t(n + (offset >> 8) + (offset & 0xFF) + type);
    out += ':';
    appendByte(uint8_t(n));
    appendByte(uint8_t(offset >> 8));
    appendByte(uint8_t(offset));
    appendByte(type);
    for (size_t i = 0; i < n; ++i) {
        appendByte(data[i]);
        sum = uint8_t(sum + data[i]);
    }
    appendByte(uint8_t(-sum));
    out += '\n';
}

} // namespace

std::string formatIntelHex(const FirmwareImage &image)
{
    constexpr uint8_t kData = 0, kEndOfFile = 1, kExtendedLinearAddress = 4;
    std::string out;
    bool upperKnown = false;
    uint32_t upper = 0;
    for (const auto &segment : image.segments) {
        size_t i = 0;
        while (i < segment.data.size()) {
            const uint32_t address = segment.address + uint32_t(i);
            if (!upperKnown || (address >> 16) != upper) {
                upperKnown = true;
                upper = address >> 16;
                const uint8_t high[2] = {uint8_t(upper >> 8), uint8_t(upper)};
                appendRecord(out, kExtendedLinearAddress, 0, high, 2);
            }
            size_t n = std::min<size_t>(16, segment.data.size() - i);
            n = std::min<size_t>(n, 0x10000 - (address & 0xFFFF));
            appendRecord(out, kData, uint16_t(address), segment.data.data() + i, n);
            i += n;
        }
    }
    appendRecord(out, kEndOfFile, 0, nullptr, 0);
    return out;
}

} // namespace flashing
