// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes from the serial port through reply recognition and value
// extraction, as the window's parser uses them.
#include "protocol.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray chunk(reinterpret_cast<const char *>(data), qsizetype(size));
    const protocol::Mnemonic m = protocol::recognise(chunk);
    if (m != protocol::Mnemonic::None) {
        (void)protocol::valueText(chunk);
        (void)protocol::flagValue(chunk, m);
        (void)protocol::query(protocol::nextInChain(m));
    }
    return 0;
}
