// The registry object's read sequence (what class activation does for a
// registered class) and a write sequence, each next to the same work done
// with the bare platform calls in the same run.
#include <benchmark/benchmark.h>
#include <tavocom/tavocom.h>

#include <string>
#include <unordered_map>

#include "registry_setup.h"

namespace tavo::bench {
namespace {

const std::string kVersion = "BENCH-REGISTRY";
const char kClsid[] = "{54372A74-5BBB-4C7D-9C81-94CF89CDF3F8}";

// The class entry the read sequence finds, and a key for the writes.
void Fill(COM_IRegistry* r) {
    SetClassRootText(r, std::string("CLSID\\") + kClsid + "\\InprocServer32", COM_TEXT(""), "TAVOCOM64.dll");
    r->Open(COM_REGROOT_CLASSES, nullptr);
    r->CreateKey(COM_TEXT("Writes"), 0);
}
void EnsureSetup() { EnsureRegistry<Fill>(kVersion); }

void BM_ReadSequence_Registry(benchmark::State& state) {
    EnsureSetup();
    utlAutoIf<COM_IRegistry> r = NewRegistry();
    const auto clsid = Wide(kClsid);
    for (auto _ : state) {
        utlAutoBstr text;
        bool ok = r->Open(COM_REGROOT_CLASSES, COM_TEXT("CLSID")) == S_OK && r->OpenKey(clsid.c_str()) == S_OK &&
                  r->OpenKey(COM_TEXT("InprocServer32")) == S_OK && r->GetStringValue(COM_TEXT(""), text.Put()) == S_OK;
        r->Close();
        if (!ok || text.Length() != 13) state.SkipWithError("read sequence failed");
    }
}
BENCHMARK(BM_ReadSequence_Registry);

// The floor of the read sequence: the same eight lookups (the seven keys
// from the hive root down, then the value) in a hash map keyed by parent id
// and folded name, folding each name as given, and the result built as the
// registry object returns it.
class FloorTree {
public:
    int64_t Add(int64_t parent, const COM_WCHAR* name) {
        int64_t id = int64_t(m_keys.size()) + 2;
        m_keys.emplace(Key(parent, name), id);
        return id;
    }
    void SetValue(int64_t key, const COM_WCHAR* name, const COM_WCHAR* text) { m_values.emplace(Key(key, name), text); }
    int64_t Child(int64_t parent, const COM_WCHAR* name) {
        auto it = m_keys.find(Key(parent, name));
        return it == m_keys.end() ? 0 : it->second;
    }
    COM_BSTR Value(int64_t key, const COM_WCHAR* name) {
        auto it = m_values.find(Key(key, name));
        return it == m_values.end() ? nullptr : COM_SysAllocString(it->second.c_str());
    }

private:
    // Reused, as a lookup of the store reuses its key.
    const std::string& Key(int64_t parent, const COM_WCHAR* name) {
        m_key.assign(reinterpret_cast<const char*>(&parent), sizeof parent);
        for (; *name; ++name) {
            COM_WCHAR c = *name >= 'A' && *name <= 'Z' ? COM_WCHAR(*name + 32) : *name;
            m_key.push_back(char(c >> 8));
            m_key.push_back(char(c & 0xFF));
        }
        return m_key;
    }
    std::unordered_map<std::string, int64_t> m_keys;
    std::unordered_map<std::string, std::basic_string<COM_WCHAR>> m_values;
    std::string m_key;
};

void BM_ReadSequence_Floor(benchmark::State& state) {
    const auto version = Wide(kVersion), clsid = Wide(kClsid);
    const COM_WCHAR* const path[] = {COM_TEXT("Software"), COM_TEXT("Quorvalltech"), version.c_str(), COM_TEXT("Classes"),
                                     COM_TEXT("CLSID"),    clsid.c_str(),           COM_TEXT("InprocServer32")};
    FloorTree tree;
    int64_t id = 1;
    for (const COM_WCHAR* level : path) {
        // Neighbours at every level, as a used registry has them.
        for (int i = 0; i < 16; ++i) tree.Add(id, Wide("sibling" + std::to_string(i)).c_str());
        id = tree.Add(id, level);
    }
    tree.SetValue(id, COM_TEXT(""), COM_TEXT("TAVOCOM64.dll"));
    for (auto _ : state) {
        int64_t at = 1;
        for (const COM_WCHAR* level : path) at = tree.Child(at, level);
        utlAutoBstr text(tree.Value(at, COM_TEXT("")));
        if (text.Length() != 13) state.SkipWithError("floor read failed");
    }
}
BENCHMARK(BM_ReadSequence_Floor);

void BM_ReadSequence_Bare(benchmark::State& state) {
    EnsureSetup();
    for (auto _ : state) {
        std::string text = BareReadSequence(kVersion, kClsid);
        if (text.compare(0, 13, "TAVOCOM64.dll") != 0) state.SkipWithError("bare read sequence failed");
    }
}
BENCHMARK(BM_ReadSequence_Bare);

void BM_WriteSequence_Registry(benchmark::State& state) {
    EnsureSetup();
    utlAutoIf<COM_IRegistry> r = NewRegistry();
    static int serial = 0;
    for (auto _ : state) {
        std::string name = "Writes\\r" + std::to_string(serial++);
        bool ok = r->Open(COM_REGROOT_CLASSES, nullptr) == S_OK && r->CreateKey(Wide(name).c_str(), 1) == S_OK &&
                  r->SetStringValue(COM_TEXT("Text"), COM_TEXT("value")) == S_OK &&
                  r->SetDWordValue(COM_TEXT("Number"), 7) == S_OK;
        if (!ok) state.SkipWithError("write sequence failed");
    }
}
BENCHMARK(BM_WriteSequence_Registry);

void BM_WriteSequence_Bare(benchmark::State& state) {
    EnsureSetup();
    static int serial = 0;
    for (auto _ : state)
        if (!BareWriteSequence(kVersion, "b" + std::to_string(serial++))) state.SkipWithError("bare write failed");
}
BENCHMARK(BM_WriteSequence_Bare);

} // namespace
} // namespace tavo::bench
