#include "platform/temporary_files.hpp"

#include <atomic>
#include <cctype>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <unistd.h>

namespace georef::platform {

namespace {

namespace fs = std::filesystem;

// A slot's life: free, claimed (its name being written) and armed (the name
// is complete and the handler may unlink it). Only armed names are touched.
enum SlotState : int { kFree = 0, kClaimed = 1, kArmed = 2 };

static_assert(ATOMIC_INT_LOCK_FREE == 2, "the signal handler reads the slot states lock-free");

std::atomic<int> g_slotState[RegisteredName::kSlots];
char g_slotName[RegisteredName::kSlots][RegisteredName::kLongestName + 1];

// Taken when the program is loaded: temporary files older than this are
// not this run's.
const fs::file_time_type g_processStart = fs::file_time_type::clock::now();

constexpr const char* kTemporaryInfix = ".tmp-";
constexpr std::size_t kTemporarySuffix = 6;  // the letters mkstemp fills in

// Async-signal-safe: reads atomics, calls unlink and raise.
extern "C" void RemoveTemporariesAndRaise(int signalNumber) {
    for (std::size_t k = 0; k < RegisteredName::kSlots; ++k) {
        if (g_slotState[k].load(std::memory_order_acquire) == kArmed) {
            ::unlink(g_slotName[k]);
        }
    }
    // The handler was installed with SA_RESETHAND: the default action is back,
    // and the signal, blocked while this runs, ends the process on return.
    ::raise(signalNumber);
}

bool IsTemporaryOf(const std::string& name, const std::string& base) {
    const std::string prefix = base + kTemporaryInfix;
    if (name.size() != prefix.size() + kTemporarySuffix || name.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    for (std::size_t k = prefix.size(); k < name.size(); ++k) {
        if (!std::isalnum(static_cast<unsigned char>(name[k]))) {
            return false;
        }
    }
    return true;
}

}  // namespace

RegisteredName::RegisteredName(const std::string& pattern) {
    if (pattern.size() <= kLongestName) {
        for (std::size_t k = 0; k < kSlots; ++k) {
            int expected = kFree;
            if (g_slotState[k].compare_exchange_strong(expected, kClaimed, std::memory_order_acq_rel)) {
                std::memcpy(g_slotName[k], pattern.c_str(), pattern.size() + 1);
                g_slotState[k].store(kArmed, std::memory_order_release);
                m_slot = static_cast<int>(k);
                return;
            }
        }
    }
    m_own = pattern;
}

RegisteredName::~RegisteredName() {
    Release();
}

char* RegisteredName::Buffer() noexcept {
    return m_slot >= 0 ? g_slotName[m_slot] : m_own.data();
}

void RegisteredName::Release() noexcept {
    if (m_slot >= 0 && !m_released) {
        g_slotState[m_slot].store(kFree, std::memory_order_release);
    }
    m_released = true;
}

void RemoveTemporariesOnSignals() noexcept {
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction previous {};
        if (::sigaction(signalNumber, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction action {};
        action.sa_handler = RemoveTemporariesAndRaise;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        ::sigaction(signalNumber, &action, nullptr);
    }
}

void RemoveStaleTemporaries(const std::string& target, bool targetLocked) noexcept {
    try {
        const fs::path path(target);
        const fs::path directory = path.has_parent_path() ? path.parent_path() : fs::path(".");
        const std::string base = path.filename().string();
        std::error_code ec;
        for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
            if (!IsTemporaryOf(it->path().filename().string(), base)) {
                continue;
            }
            std::error_code entryError;
            if (!fs::is_regular_file(fs::symlink_status(it->path(), entryError)) || entryError) {
                continue;
            }
            const fs::file_time_type modified = fs::last_write_time(it->path(), entryError);
            if (!entryError && (targetLocked || modified < g_processStart)) {
                fs::remove(it->path(), entryError);
            }
        }
    } catch (...) {
        // Nothing of the run depends on it.
    }
}

}  // namespace georef::platform
