// SPDX-License-Identifier: GPL-3.0-or-later
#include "memorylayout.h"

#include <algorithm>

namespace flashing {
namespace {

class Cursor {
public:
    explicit Cursor(const std::string &text) : s(text) {}
    bool atEnd() const { return i >= s.size(); }
    char peek() const { return atEnd() ? '\0' : s[i]; }
    bool take(char c)
    {
        if (peek() != c)
            return false;
        ++i;
        return true;
    }
    void skipSpaces()
    {
        while (peek() == ' ')
            ++i;
    }
    bool decimal(uint64_t &value)
    {
        size_t digits = 0;
        value = 0;
        while (peek() >= '0' && peek() <= '9') {
            value = value * 10 + uint64_t(s[i++] - '0');
            if (++digits > 9)
                return false;
        }
        return digits > 0;
    }
    bool hexAddress(uint64_t &value)
    {
        if (!(take('0') && (take('x') || take('X'))))
            return false;
        size_t digits = 0;
        value = 0;
        for (;;) {
            const char c = peek();
            int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (v < 0)
                break;
            value = value << 4 | uint64_t(v);
            ++i;
            if (++digits > 8)
                return false;
        }
        return digits > 0;
    }

private:
    const std::string &s;
    size_t i = 0;
};

// "NN*SSSmT": count, size, multiplier, access letter.
bool parseRun(Cursor &c, uint64_t start, SectorRun &run)
{
    uint64_t count = 0, size = 0;
    c.skipSpaces();
    if (!c.decimal(count) || !c.take('*') || !c.decimal(size))
        return false;
    uint64_t multiplier = 1;
    if (c.take('K'))
        multiplier = 1024;
    else if (c.take('M'))
        multiplier = 1024 * 1024;
    else if (!c.take('B'))
        c.take(' ');
    const char type = c.peek();
    if (type < 'a' || type > 'g')
        return false;
    c.take(type);
    size *= multiplier;
    if (count == 0 || size == 0 || size > 0xFFFFFFFFull || start + count * size > 0x100000000ull)
        return false;
    run = SectorRun{uint32_t(start), uint32_t(count), uint32_t(size), uint8_t(type & 7)};
    return true;
}

} // namespace

bool parseMemoryLayout(const std::string &text, MemoryLayout &out)
{
    out = MemoryLayout{};
    if (text.size() > kMaxLayoutLength || text.empty() || text[0] != '@')
        return false;
    const size_t slash = text.find('/');
    if (slash == std::string::npos)
        return false;
    MemoryLayout layout;
    layout.name = text.substr(1, slash - 1);
    while (!layout.name.empty() && layout.name.back() == ' ')
        layout.name.pop_back();

    const std::string rest = text.substr(slash);
    Cursor c(rest);
    while (c.take('/')) {
        uint64_t address = 0;
        if (!c.hexAddress(address) || !c.take('/'))
            return false;
        do {
            SectorRun run;
            if (!parseRun(c, address, run))
                return false;
            layout.runs.push_back(run);
            address = run.end();
        } while (c.take(','));
        c.skipSpaces();
    }
    if (!c.atEnd() || layout.runs.empty())
        return false;
    std::sort(layout.runs.begin(), layout.runs.end(),
              [](const SectorRun &a, const SectorRun &b) { return a.start < b.start; });
    for (size_t k = 1; k < layout.runs.size(); ++k) {
        if (uint64_t(layout.runs[k].start) < layout.runs[k - 1].end())
            return false;
    }
    out = std::move(layout);
    return true;
}

bool MemoryLayout::sectorAt(uint32_t address, Sector &out) const
{
    for (const SectorRun &run : runs) {
        if (address >= run.start && uint64_t(address) < run.end()) {
            const uint32_t index = (address - run.start) / run.size;
            out = Sector{run.start + index * run.size, run.size, run.access};
            return true;
        }
    }
    return false;
}

bool MemoryLayout::allows(uint32_t begin, uint64_t end, uint8_t access) const
{
    uint64_t at = begin;
    while (at < end) {
        Sector sector;
        if (at > 0xFFFFFFFFull || !sectorAt(uint32_t(at), sector) || (sector.access & access) != access)
            return false;
        at = sector.end();
    }
    return true;
}

std::vector<Sector> MemoryLayout::sectorsTouched(const FirmwareImage &image) const
{
    std::vector<Sector> sectors;
    for (const Segment &segment : image.segments) {
        uint64_t at = segment.address;
        while (at < segment.end()) {
            Sector sector;
            if (!sectorAt(uint32_t(at), sector))
                break;
            if (sectors.empty() || sectors.back().start != sector.start)
                sectors.push_back(sector);
            at = sector.end();
        }
    }
    return sectors;
}

} // namespace flashing
