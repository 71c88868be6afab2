#include "batch/content_key.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <xxhash.h>

#include "transform/transformation_file.hpp"
#include "platform/file_system.hpp"

namespace georef::batch {

namespace {

// Bytes read at a time while hashing a scan.
constexpr std::size_t kReadBytes = 1 << 20;

struct StateFree {
    void operator()(XXH3_state_t* state) const noexcept { XXH3_freeState(state); }
};
using HashState = std::unique_ptr<XXH3_state_t, StateFree>;

class Descriptor {
public:
    explicit Descriptor(const std::string& path) noexcept : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~Descriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const noexcept { return m_fd; }

private:
    int m_fd;
};

std::string Hex(const XXH128_hash_t& hash) {
    char text[33];
    std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(hash.high64),
                  static_cast<unsigned long long>(hash.low64));
    return text;
}

HashState NewState() {
    HashState state(XXH3_createState());
    if (!state || XXH3_128bits_reset(state.get()) != XXH_OK) {
        return nullptr;
    }
    return state;
}

// Adds a value's bytes (as this machine holds them) to the hash.
template <typename T>
void Add(XXH3_state_t* state, const T& value) {
    XXH3_128bits_update(state, &value, sizeof value);
}

}  // namespace

std::string ContentDigest(const std::string& path) {
    const Descriptor file(path);
    HashState state = NewState();
    if (file.Get() < 0 || !state) {
        return {};
    }
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return {};
    }
    ::posix_fadvise(file.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    std::vector<unsigned char> buffer(kReadBytes);
    for (;;) {
        const ssize_t count = ::read(file.Get(), buffer.data(), buffer.size());
        if (count == 0) {
            break;
        }
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return {};
        }
        XXH3_128bits_update(state.get(), buffer.data(), static_cast<std::size_t>(count));
    }
    return Hex(XXH3_128bits_digest(state.get()));
}

std::string BytesDigest(const std::string& bytes) {
    return Hex(XXH3_128bits(bytes.data(), bytes.size()));
}

std::string ScanFileStat(const std::string& path) { return platform::FileState(path); }

std::string DigestUnlessUnchanged(const std::string& path, const std::string& knownStat,
                                  const std::string& knownDigest) {
    if (!knownStat.empty() && !knownDigest.empty() && ScanFileStat(path) == knownStat) {
        return knownDigest;
    }
    return ContentDigest(path);
}

std::string SheetRecordsDigest(const std::string& configFile, int sheet) {
    try {
        std::optional<transform::TransformationFile> file = transform::TransformationFile::Open(configFile);
        if (!file) {
            return {};
        }
        const std::optional<transform::SheetIndexEntry> entry = file->FindSheet(sheet);
        if (!entry) {
            return {};
        }
        const transform::SheetBoundary boundary = file->ReadBoundary(*entry);
        const transform::TransformGrid grid = file->ReadGrid(*entry);
        HashState state = NewState();
        if (!state) {
            return {};
        }
        Add(state.get(), boundary.vertices.size());
        for (const transform::OutputPoint& p : boundary.vertices) {
            Add(state.get(), p.X);
            Add(state.get(), p.Y);
        }
        for (const std::int32_t value :
             {grid.OriginX(), grid.OriginY(), grid.CellSize(), grid.NodesPerRow(), grid.RowCount()}) {
            Add(state.get(), value);
        }
        for (const transform::GraticulePoint& node : grid.Nodes()) {
            Add(state.get(), node.lon);
            Add(state.get(), node.lat);
        }
        return Hex(XXH3_128bits_digest(state.get()));
    } catch (const std::exception&) {
        return {};  // damaged, or a grid that is no grid: the run reports it
    }
}

}  // namespace georef::batch
