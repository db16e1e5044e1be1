// tavocom categories: the component categories with their descriptions and
// member classes.
#include <cstdio>

#include "tools/category_list.h"
#include "tools/command.h"

namespace tavo::tools {
namespace {

COM_HRESULT NewInformation(utlAutoIf<COM_ICatInformation>& info) {
    return COM_CreateInstance(COM_CLSID_CategoryManager, 0, COM_IID_ICatInformation, info.PutVoid());
}

// Member classes of one category, in registry order.
COM_HRESULT Members(COM_ICatInformation* info, const _COM_GUID& category, std::vector<std::string>* out) {
    utlAutoIf<COM_IEnumCLSID> classes;
    COM_HRESULT hr = info->EnumClassesOfCategory(category, classes.Put());
    if (COM_FAILED(hr)) return hr;
    for (;;) {
        _COM_GUID* record = nullptr;
        uint32_t given = 0;
        hr = classes->Next(1, &record, &given);
        if (COM_FAILED(hr)) return hr; // a class entry that is no identifier
        if (given != 1) return S_OK;
        out->push_back(GuidText(*record));
        COM_TaskMemFree(record);
    }
}

std::string ProgIDOf(const std::string& clsidText) {
    _COM_GUID clsid{};
    utlAutoBstr progid;
    if (!ParseGuid(clsidText, &clsid) || COM_FAILED(COM_GetProgIDFromClsid(clsid, progid.Put()))) return "-";
    return NarrowZ(progid.Get());
}

void Print(const CategoryView& c) {
    std::printf("%s  %s\n", c.id.c_str(), c.description.c_str());
    for (const std::string& cls : c.classes) std::printf("    %s  %s\n", cls.c_str(), ProgIDOf(cls).c_str());
    if (c.classes.empty()) std::printf("    (no classes)\n");
}

int One(const std::string& text) {
    _COM_GUID category{};
    if (!ParseGuid(text, &category)) {
        std::fprintf(stderr, "categories: not a category identifier: %s\n", text.c_str());
        return 2;
    }
    utlAutoIf<COM_ICatInformation> info;
    COM_HRESULT hr = NewInformation(info);
    if (COM_FAILED(hr)) {
        std::printf("no category manager: %s\n", StatusText(hr).c_str());
        return 1;
    }
    CategoryView view{GuidText(category), {}, {}};
    utlAutoBstr description;
    hr = info->GetCategoryDesc(category, description.Put());
    view.description = COM_SUCCEEDED(hr) ? NarrowZ(description.Get()) : "(no description: " + StatusText(hr) + ")";
    hr = Members(info.Get(), category, &view.classes);
    if (hr == COM_STATUS_FROM_WIN32(2)) {
        std::printf("%s is not registered\n", view.id.c_str());
        return 1;
    }
    Print(view);
    if (COM_FAILED(hr)) std::printf("    (classes not readable: %s)\n", StatusText(hr).c_str());
    return COM_SUCCEEDED(hr) ? 0 : 1;
}

} // namespace

int Categories(const Args& args) {
    if (args.size() > 1) {
        std::fprintf(stderr, "categories: expects at most one category identifier\n");
        return 2;
    }
    if (args.size() == 1) return One(args[0]);
    std::vector<CategoryView> all;
    COM_HRESULT hr = S_OK;
    if (!ListCategories(&all, &hr)) {
        std::printf("no categories registered (%s)\n", StatusText(hr).c_str());
        return hr == COM_STATUS_FROM_WIN32(2) ? 0 : 1;
    }
    for (const CategoryView& c : all) Print(c);
    std::printf("%zu categories\n", all.size());
    return 0;
}

bool ListCategories(std::vector<CategoryView>* out, COM_HRESULT* status) {
    utlAutoIf<COM_ICatInformation> info;
    utlAutoIf<COM_IEnumCATEGORYINFO> categories;
    *status = NewInformation(info);
    if (COM_SUCCEEDED(*status)) *status = info->EnumCategories(categories.Put());
    if (COM_FAILED(*status)) return false;
    uint32_t count = 0;
    categories->GetCount(&count);
    for (uint32_t i = 0; i < count; ++i) {
        COM_CATEGORYINFO* record = nullptr;
        uint32_t given = 0;
        categories->SetPosition(i);
        COM_HRESULT hr = categories->Next(1, &record, &given);
        if (COM_FAILED(hr) || given != 1) {
            // A category key without a description, or whose name is no
            // identifier: shown, but its identifier is not known here.
            out->push_back({"(category " + std::to_string(i + 1) + ")", "(not readable: " + StatusText(hr) + ")", {}});
            continue;
        }
        CategoryView view{GuidText(record->catid), NarrowZ(record->szDescription), {}};
        COM_HRESULT members = Members(info.Get(), record->catid, &view.classes);
        if (COM_FAILED(members)) view.description += " (classes not readable: " + StatusText(members) + ")";
        COM_TaskMemFree(record);
        out->push_back(std::move(view));
    }
    return true;
}

std::map<std::string, std::vector<std::string>> CategoriesByClass() {
    std::map<std::string, std::vector<std::string>> byClass;
    std::vector<CategoryView> all;
    COM_HRESULT ignored = S_OK;
    if (!ListCategories(&all, &ignored)) return byClass;
    for (const CategoryView& c : all)
        for (const std::string& cls : c.classes) byClass[cls].push_back(c.description);
    return byClass;
}

} // namespace tavo::tools
