// The categories of the class root as the tool shows them, shared by
// `categories` and `classes`.
#ifndef TAVOCOM_TOOLS_CATEGORY_LIST_H
#define TAVOCOM_TOOLS_CATEGORY_LIST_H

#include <tavocom/tavocom.h>

#include <map>
#include <string>
#include <vector>

namespace tavo::tools {

struct CategoryView {
    std::string id;          // text form
    std::string description; // or a note why there is none
    std::vector<std::string> classes;
};

/// Every category with its member classes, through COM_ICatInformation.
/// False (with `status` set) when there is nothing to enumerate.
bool ListCategories(std::vector<CategoryView>* out, COM_HRESULT* status);

/// Category descriptions per class identifier text.
std::map<std::string, std::vector<std::string>> CategoriesByClass();

} // namespace tavo::tools

#endif
