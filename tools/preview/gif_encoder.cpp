#include "gif_encoder.h"

#include <algorithm>
#include <numeric>

namespace preview {
namespace {

// The nearest palette entry by a walk outwards from the pixel's green value
// over the entries sorted by green: an entry whose green alone is further off
// than the best distance so far cannot win, nor can any beyond it. Repeated
// colours, which fill most frames, come from a small cache.
class NearestSearch {
public:
    explicit NearestSearch(const GifPalette& palette) : palette_(palette) {
        order_.resize(static_cast<size_t>(palette.size));
        std::iota(order_.begin(), order_.end(), uint8_t{0});
        std::stable_sort(order_.begin(), order_.end(), [&](uint8_t x, uint8_t y) { return Green(x) < Green(y); });
        for (uint8_t entry : order_) greens_.push_back(Green(entry));
        cacheKeys_.fill(kEmpty);
    }

    uint8_t Find(uint8_t r, uint8_t g, uint8_t b) {
        const uint32_t key = uint32_t{r} << 16 | uint32_t{g} << 8 | b;
        const size_t slot = (key * 2654435761u) >> (32 - kCacheBits);
        if (cacheKeys_[slot] == key) return cacheValues_[slot];
        const uint8_t found = Search(r, g, b);
        cacheKeys_[slot] = key;
        cacheValues_[slot] = found;
        return found;
    }

private:
    static constexpr int kCacheBits = 14;
    static constexpr uint32_t kEmpty = 0xFFFFFFFFu;  // no colour has this key

    int Green(uint8_t entry) const { return palette_.rgb[entry * 3 + 1]; }

    int Distance(uint8_t entry, int r, int g, int b) const {
        const int dr = palette_.rgb[entry * 3] - r, dg = palette_.rgb[entry * 3 + 1] - g,
                  db = palette_.rgb[entry * 3 + 2] - b;
        return dr * dr + dg * dg + db * db;
    }

    uint8_t Search(int r, int g, int b) const {
        const int count = static_cast<int>(order_.size());
        const int start = static_cast<int>(std::lower_bound(greens_.begin(), greens_.end(), g) - greens_.begin());
        int best = 0x7FFFFFFF;
        uint8_t bestEntry = 0;
        auto consider = [&](int at) {
            const int gap = greens_[static_cast<size_t>(at)] - g;
            if (gap * gap > best) return false;
            const uint8_t entry = order_[static_cast<size_t>(at)];
            const int d = Distance(entry, r, g, b);
            if (d < best || (d == best && entry < bestEntry)) {
                best = d;
                bestEntry = entry;
            }
            return true;
        };
        // Equal distances must still be seen, for the lowest index: stop only past them.
        for (int up = start; up < count && consider(up); ++up) {
        }
        for (int down = start - 1; down >= 0 && consider(down); --down) {
        }
        return bestEntry;
    }

    const GifPalette& palette_;
    std::vector<uint8_t> order_;
    std::vector<int> greens_;
    std::array<uint32_t, size_t{1} << kCacheBits> cacheKeys_;
    std::array<uint8_t, size_t{1} << kCacheBits> cacheValues_{};
};

void PutShort(std::string& out, uint32_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

// Codes go out least significant bit first, packed into sub-blocks of at most
// 255 bytes, each after its length.
class CodeWriter {
public:
    explicit CodeWriter(std::string& out) : out_(out) {}
    void Put(uint32_t code, int bits) {
        pending_ |= code << held_;
        held_ += bits;
        while (held_ >= 8) {
            Byte(static_cast<uint8_t>(pending_ & 0xFF));
            pending_ >>= 8;
            held_ -= 8;
        }
    }
    void Finish() {
        if (held_ > 0) Byte(static_cast<uint8_t>(pending_ & 0xFF));
        held_ = 0;
        pending_ = 0;
        FlushBlock();
        out_ += '\0';  // the empty block that ends the data
    }

private:
    void Byte(uint8_t value) {
        block_[blockLength_++] = value;
        if (blockLength_ == 255) FlushBlock();
    }
    void FlushBlock() {
        if (blockLength_ == 0) return;
        out_ += static_cast<char>(blockLength_);
        out_.append(reinterpret_cast<const char*>(block_.data()), blockLength_);
        blockLength_ = 0;
    }

    std::string& out_;
    uint32_t pending_ = 0;
    int held_ = 0;
    std::array<uint8_t, 255> block_{};
    size_t blockLength_ = 0;
};

// GIF's variable-length LZW over 8-bit indices. The string table maps (prefix
// code, next index) to its code through open addressing; when all 4096 codes
// are taken the encoder sends a clear code and starts again.
void CompressIndices(const std::vector<uint8_t>& indices, std::string& out) {
    constexpr int kMinCodeSize = 8;
    constexpr uint32_t kClear = 1u << kMinCodeSize, kEnd = kClear + 1, kFirstFree = kClear + 2, kCodeLimit = 4096;
    constexpr int kTableBits = 13;  // twice the codes
    constexpr size_t kTableSize = size_t{1} << kTableBits;
    std::vector<uint32_t> keys(kTableSize), codes(kTableSize);
    constexpr uint32_t kFree = 0xFFFFFFFFu;

    out += static_cast<char>(kMinCodeSize);
    CodeWriter writer(out);
    int codeSize = kMinCodeSize + 1;
    uint32_t next = kFirstFree;
    auto reset = [&] {
        std::fill(keys.begin(), keys.end(), kFree);
        codeSize = kMinCodeSize + 1;
        next = kFirstFree;
    };
    // The decoder widens its codes once it has as many entries as the width
    // can name; it adds an entry after every code but the first after a clear,
    // so the encoder widens when the code it would give next needs the extra bit.
    auto send = [&](uint32_t code) {
        writer.Put(code, codeSize);
        if (next == (1u << codeSize) && codeSize < 12) ++codeSize;
    };

    reset();
    writer.Put(kClear, codeSize);
    if (indices.empty()) {
        writer.Put(kEnd, codeSize);
        writer.Finish();
        return;
    }
    uint32_t prefix = indices[0];
    for (size_t i = 1; i < indices.size(); ++i) {
        const uint32_t key = prefix << 8 | indices[i];
        size_t slot = (key * 2654435761u) >> (32 - kTableBits);
        while (keys[slot] != kFree && keys[slot] != key) slot = (slot + 1) & (kTableSize - 1);
        if (keys[slot] == key) {
            prefix = codes[slot];
            continue;
        }
        send(prefix);
        if (next < kCodeLimit) {
            keys[slot] = key;
            codes[slot] = next++;
        } else {
            writer.Put(kClear, codeSize);
            reset();
        }
        prefix = indices[i];
    }
    send(prefix);
    writer.Put(kEnd, codeSize);
    writer.Finish();
}

}  // namespace

std::vector<uint8_t> MapToPalette(const Image& frame, const GifPalette& palette) {
    const size_t pixels = static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height);
    std::vector<uint8_t> indices(pixels, 0);
    if (palette.size <= 0) return indices;
    NearestSearch search(palette);
    const uint8_t* p = frame.rgb.data();
    for (size_t i = 0; i < pixels; ++i, p += 3) indices[i] = search.Find(p[0], p[1], p[2]);
    return indices;
}

GifEncoder::GifEncoder(int32_t width, int32_t height) : width_(width), height_(height) {
    bytes_ = "GIF89a";
    PutShort(bytes_, static_cast<uint32_t>(width));
    PutShort(bytes_, static_cast<uint32_t>(height));
    bytes_ += '\x70';  // no global palette; 8 bits a colour channel
    bytes_ += '\0';    // background
    bytes_ += '\0';    // square pixels
    // Loop forever: the application extension NETSCAPE2.0, sub-block 1, count 0.
    bytes_.append("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00", 19);
}

void GifEncoder::AddFrame(const std::vector<uint8_t>& indices, const GifPalette& palette, uint16_t centiseconds) {
    // Graphic control: the frame stays under the next one (disposal 1), for its time.
    bytes_.append("\x21\xF9\x04\x04", 4);
    PutShort(bytes_, centiseconds);
    bytes_.append("\x00\x00", 2);
    // The whole screen, with a local palette of 256 entries.
    bytes_ += '\x2C';
    PutShort(bytes_, 0);
    PutShort(bytes_, 0);
    PutShort(bytes_, static_cast<uint32_t>(width_));
    PutShort(bytes_, static_cast<uint32_t>(height_));
    bytes_ += '\x87';
    bytes_.append(reinterpret_cast<const char*>(palette.rgb.data()), palette.rgb.size());
    CompressIndices(indices, bytes_);
}

const std::string& GifEncoder::Finish() {
    if (bytes_.empty() || bytes_.back() != '\x3B') bytes_ += '\x3B';
    return bytes_;
}

}  // namespace preview
