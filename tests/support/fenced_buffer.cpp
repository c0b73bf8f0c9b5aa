#include "fenced_buffer.h"

#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace veilshift::test {

size_t FencedBuffer::PageSize() {
#if defined(_WIN32)
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
#else
    return static_cast<size_t>(sysconf(_SC_PAGESIZE));
#endif
}

// The mapping: a guard page, the block's pages, a guard page.
FencedBuffer::FencedBuffer(size_t size, Fence fence) : size_(size) {
    if (fence != Fence::kNone) {
        const size_t page = PageSize();
        const size_t inner = (size + page - 1) / page * page;
        const size_t mapSize = inner + 2 * page;
#if defined(_WIN32)
        void* map = VirtualAlloc(nullptr, mapSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        DWORD old;
        if (map != nullptr && (!VirtualProtect(map, page, PAGE_NOACCESS, &old) ||
                               !VirtualProtect(static_cast<uint8_t*>(map) + page + inner, page, PAGE_NOACCESS, &old))) {
            VirtualFree(map, 0, MEM_RELEASE);
            map = nullptr;
        }
#else
        void* map = mmap(nullptr, mapSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED) {
            map = nullptr;
        } else if (mprotect(map, page, PROT_NONE) != 0 ||
                   mprotect(static_cast<uint8_t*>(map) + page + inner, page, PROT_NONE) != 0) {
            munmap(map, mapSize);
            map = nullptr;
        }
#endif
        if (map != nullptr) {
            map_ = map;
            mapSize_ = mapSize;
            uint8_t* const first = static_cast<uint8_t*>(map) + page;
            data_ = fence == Fence::kBefore ? first : first + inner - size;
            return;
        }
    }
    heap_.reset(new uint8_t[size == 0 ? 1 : size]);
    data_ = heap_.get();
}

FencedBuffer::~FencedBuffer() {
    if (map_ == nullptr) return;
#if defined(_WIN32)
    VirtualFree(map_, 0, MEM_RELEASE);
#else
    munmap(map_, mapSize_);
#endif
}

FencedRows::FencedRows(int32_t cols, int32_t rows, int32_t pitch, Fence fence, std::mt19937& random)
    : cols(cols), rows(rows), pitch(pitch),
      memory(static_cast<size_t>(rows - 1) * static_cast<size_t>(std::abs(pitch)) + static_cast<size_t>(cols) * 3,
             fence) {
    for (size_t i = 0; i < memory.size(); ++i) memory.data()[i] = static_cast<uint8_t>(random());
    origin = memory.data() + (pitch < 0 ? static_cast<size_t>(rows - 1) * static_cast<size_t>(-pitch) : 0);
}

}  // namespace veilshift::test
