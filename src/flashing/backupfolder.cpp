// SPDX-License-Identifier: GPL-3.0-or-later
#include "backupfolder.h"

#include "intelhex.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace flashing {

namespace {

constexpr size_t kLabelLength = 40;
constexpr const char *kSuffix = ".hex";

// Only files this module named: "YYYY-MM-DD_HHMMSS...hex".
bool isBackupName(const std::string &name)
{
    if (name.size() < 17 + std::strlen(kSuffix) || name.compare(name.size() - 4, 4, kSuffix) != 0)
        return false;
    static const char kShape[] = "dddd-dd-dd_dddddd";
    for (size_t i = 0; i < sizeof kShape - 1; ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(name[i])) != 0;
        if (kShape[i] == 'd' ? !digit : name[i] != kShape[i])
            return false;
    }
    return true;
}

std::string freeName(const fs::path &folder, const std::string &name)
{
    std::string candidate = name;
    const std::string stem = name.substr(0, name.size() - std::strlen(kSuffix));
    std::error_code error;
    for (int n = 2; fs::exists(folder / candidate, error); ++n)
        candidate = stem + "_" + std::to_string(n) + kSuffix;
    return candidate;
}

// Written, flushed to the disk and renamed: a crash or a full disk leaves
// the earlier copies and no half file among them.
bool writeWhole(const fs::path &target, const std::string &text, std::string &why)
{
    fs::path part = target;
    part += ".part";
    std::FILE *file = std::fopen(part.string().c_str(), "wb");
    if (!file) {
        why = std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
#ifndef _WIN32
    ok = ok && fsync(fileno(file)) == 0;
#endif
    if (!ok)
        why = std::strerror(errno);
    ok = std::fclose(file) == 0 && ok;
    std::error_code error;
    if (ok) {
        fs::rename(part, target, error);
        if (error) {
            why = error.message();
            ok = false;
        }
    }
    if (!ok)
        fs::remove(part, error);
    return ok;
}

void keepNewest(const std::string &folder)
{
    const std::vector<BackupEntry> all = listBackups(folder);
    std::error_code error;
    for (size_t i = kBackupsKept; i < all.size(); ++i)
        fs::remove(all[i].path, error);
}

} // namespace

std::string keptFileName(std::time_t when, const std::string &label, const std::string &suffix)
{
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &when);
#else
    localtime_r(&when, &local);
#endif
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d_%H%M%S", &local);
    std::string name = stamp;
    std::string cleaned;
    for (char c : label.substr(0, kLabelLength)) {
        const bool kept = std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-';
        cleaned += kept ? c : '_';
    }
    if (!cleaned.empty())
        name += "_" + cleaned;
    return name + suffix;
}

bool saveBackup(const std::string &folder, const std::string &label, const FirmwareImage &old, std::string &path,
                std::string &why)
{
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) {
        why = error.message();
        return false;
    }
    const fs::path target = fs::path(folder) / freeName(folder, keptFileName(std::time(nullptr), label));
    if (!writeWhole(target, formatIntelHex(old), why))
        return false;
    path = target.string();
    keepNewest(folder);
    return true;
}

std::vector<BackupEntry> listBackups(const std::string &folder)
{
    std::vector<BackupEntry> entries;
    std::vector<fs::file_time_type> written;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (!it->is_regular_file(error) || !isBackupName(it->path().filename().string()))
            continue;
        entries.push_back({it->path().string(), uint64_t(it->file_size(error))});
        written.push_back(it->last_write_time(error));
    }
    // By when each was written: two copies of one second sort by their
    // labels otherwise. The name breaks ties.
    std::vector<size_t> order(entries.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        if (written[a] != written[b])
            return written[a] > written[b];
        return fs::path(entries[a].path).filename() > fs::path(entries[b].path).filename();
    });
    std::vector<BackupEntry> sorted;
    for (size_t i : order)
        sorted.push_back(entries[i]);
    return sorted;
}

} // namespace flashing
