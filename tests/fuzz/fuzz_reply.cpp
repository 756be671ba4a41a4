// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes from the serial port through reply recognition and value
// extraction, as the window's parser and tarvik-config use them: a value
// taken from a reply must read back as the same word once shown (what the
// settings file and the command line rely on).
#include "protocol.h"
#include "settings.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray chunk(reinterpret_cast<const char *>(data), qsizetype(size));
    const settings::Key *key = settings::recognise(chunk);
    if (!key)
        return 0;
    if (!protocol::names(chunk, key->mnemonic()))
        std::abort();
    (void)protocol::flagValue(chunk, key->mnemonic());
    if (const settings::Key *next = settings::nextInChain(key))
        (void)protocol::query(next->mnemonic());
    if (key->uploadRank < 0)
        return 0;
    const std::optional<quint32> word = settings::wordOfReply(*key, protocol::valueText(chunk).trimmed());
    if (word) {
        const settings::Parsed again = settings::parseValue(*key, settings::displayValue(*key, *word));
        // A NaN's payload is not kept by text; parseValue refuses NaN anyway.
        if (!again.error.isEmpty() || again.word != *word)
            std::abort();
        (void)settings::setCommand(*key, *word);
    }
    return 0;
}
