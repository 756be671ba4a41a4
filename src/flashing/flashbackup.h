// SPDX-License-Identifier: GPL-3.0-or-later
// What a caller hands one write besides the file: where the flash it is
// about to erase goes, and whether the person at the device still wants the
// write. Where copies are kept, and how many, is the caller's business.
#pragma once

#include "firmwareimage.h"

#include <functional>

namespace flashing {

// Where a write puts the flash it is about to erase, so that the firmware
// it replaces is never lost with it. Called on the engine's worker thread.
class FlashBackup {
public:
    virtual ~FlashBackup() = default;
    // Every sector the write erases, as it was; the first erase waits for
    // this to return.
    virtual void keep(const FirmwareImage &old) = 0;
    // The device would not read them (read-out protection): the write goes
    // on without a copy.
    virtual void unreadable(int result) = 0;
};

struct WriteHooks {
    // Null: no copy is made.
    FlashBackup *backup = nullptr;
    // Asked on the worker thread once the copy is made, just before the
    // first change to the flash: true ends the write there with kStopped,
    // the flash as it was.
    std::function<bool()> stopRequested;
};

} // namespace flashing
