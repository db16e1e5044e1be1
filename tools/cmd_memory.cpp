// The memory service from a client's side: choose a strategy, allocate,
// free every other block and show the figures.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <vector>

#include "tools/command.h"

namespace tavo::tools {
namespace {

constexpr uint64_t kMaxMemoryBlocks = 1000000;
constexpr uint64_t kMaxMemoryBytes = uint64_t(1) << 30;

// A decimal or 0x-hexadecimal number, nothing else (no sign, no suffix).
bool ParseNumber(const std::string& text, uint64_t* value) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
    char* end = nullptr;
    errno = 0;
    *value = std::strtoull(text.c_str(), &end, text.size() > 2 && (text[1] == 'x' || text[1] == 'X') ? 16 : 10);
    return !*end && errno == 0;
}

const char* StrategyName(uint32_t type) {
    switch (type) {
    case COM_MEMORY_STRATEGY_STANDARD: return "standard (process heap)";
    case COM_MEMORY_STRATEGY_LINEAR: return "linear (caller's buffer)";
    case COM_MEMORY_STRATEGY_VIRTUAL: return "virtual arena, no free list";
    case COM_MEMORY_STRATEGY_VIRTUAL_FREELIST: return "virtual arena with free list";
    default: return "unknown";
    }
}

void PrintFigures(COM_IMemory* mem) {
    uint32_t allocs = 0, frees = 0, total = 0, available = 0;
    COM_HRESULT hr = mem->GetStats(&allocs, &frees, &total, &available);
    if (COM_FAILED(hr)) {
        std::printf("  GetStats: %s\n", StatusText(hr).c_str());
    } else {
        std::printf("  GetStats: %u allocations, %u frees, total %u (0x%08X), available %u (0x%08X)\n", allocs, frees,
                    total, total, available, available);
    }
    uint32_t freeBytes = 0, overhead = 0, blocks = 0;
    hr = mem->GetFreeListStats(&freeBytes, &overhead, &blocks);
    if (hr == S_OK) {
        std::printf("  GetFreeListStats: %u free bytes, %u overhead bytes, %u free blocks\n", freeBytes, overhead,
                    blocks);
    } else {
        std::printf("  GetFreeListStats: %s%s\n", StatusText(hr).c_str(),
                    hr == E_NOTIMPL ? " (no free-list statistics)" : "");
    }
}

} // namespace

// The linear strategy gets a buffer of count * size bytes.
int RunMemory(uint32_t type, uint64_t count, uint64_t size, uint64_t arenaSize) {
    utlAutoIf<COM_IMemory> mem;
    COM_HRESULT hr = COM_CreateInstance(COM_CLSID_Memory, 0, COM_IID_IMemory, mem.PutVoid());
    if (COM_FAILED(hr)) {
        std::fprintf(stderr, "memory: creating the memory object failed with %s\n", StatusText(hr).c_str());
        return 1;
    }
    std::vector<unsigned char> buffer;
    uint64_t first = 0, second = arenaSize;
    if (type == COM_MEMORY_STRATEGY_LINEAR) {
        if (count != 0 && size > (uint64_t(1) << 30) / count) {
            std::fprintf(stderr, "memory: the linear buffer (COUNT * SIZE) is limited to 1 GiB\n");
            return 2;
        }
        buffer.resize(size_t(count * size));
        first = reinterpret_cast<uintptr_t>(buffer.data());
        second = buffer.size();
    }
    std::printf("strategy %u: %s\n", type, StrategyName(type));
    hr = mem->SetStrategy(type, first, second);
    if (COM_FAILED(hr)) {
        std::printf("  SetStrategy: %s\n", StatusText(hr).c_str());
        return 1;
    }
    std::vector<void*> blocks;
    blocks.reserve(size_t(count));
    uint64_t failed = 0;
    for (uint64_t i = 0; i < count; ++i) {
        void* p = mem->Alloc(size);
        if (!p) ++failed;
        blocks.push_back(p);
    }
    std::printf("  allocated %llu blocks of %llu bytes (%llu refused)\n", (unsigned long long)(count - failed),
                (unsigned long long)size, (unsigned long long)failed);
    if (count >= 2 && blocks[0] && blocks[1])
        std::printf("  first blocks at %p and %p, %lld bytes apart\n", blocks[0], blocks[1],
                    (long long)(static_cast<char*>(blocks[1]) - static_cast<char*>(blocks[0])));
    PrintFigures(mem.Get());
    try {
        for (size_t i = 0; i < blocks.size(); i += 2) mem->Free(blocks[i]);
    } catch (const std::exception& e) {
        std::printf("  Free raised: %s\n", e.what());
    }
    std::printf("  after freeing every other block:\n");
    PrintFigures(mem.Get());
    hr = mem->Reset();
    std::printf("  Reset: %s\n", StatusText(hr).c_str());
    if (hr == S_OK) PrintFigures(mem.Get());
    return 0;
}

int Memory(const Args& args) {
    if (args.size() < 3 || args.size() > 4) {
        std::fprintf(stderr, "memory: expects TYPE COUNT SIZE [ARENA_SIZE]\n");
        return 2;
    }
    // Bounds that keep a run to seconds and its reservations to what the
    // figures need: COUNT * SIZE is what the blocks take at most.
    struct Argument {
        const char* name;
        uint64_t low, high;
        uint64_t value;
    } checked[] = {{"TYPE", 1, 4, 0},
                   {"COUNT", 1, kMaxMemoryBlocks, 0},
                   {"SIZE", 0, kMaxMemoryBytes, 0},
                   {"ARENA_SIZE", 1, kMaxMemoryBytes, 0x100000}};
    for (size_t i = 0; i < args.size(); ++i) {
        Argument& a = checked[i];
        if (!ParseNumber(args[i], &a.value) || a.value < a.low || a.value > a.high) {
            std::fprintf(stderr, "memory: %s must be a number from %llu to %llu: %s\n", a.name,
                         (unsigned long long)a.low, (unsigned long long)a.high, args[i].c_str());
            return 2;
        }
    }
    const uint64_t count = checked[1].value, size = checked[2].value;
    if (size > kMaxMemoryBytes / count) {
        std::fprintf(stderr, "memory: COUNT * SIZE must be at most %llu bytes (1 GiB): %llu * %llu\n",
                     (unsigned long long)kMaxMemoryBytes, (unsigned long long)count, (unsigned long long)size);
        return 2;
    }
    return RunMemory(uint32_t(checked[0].value), count, size, checked[3].value);
}

} // namespace tavo::tools
