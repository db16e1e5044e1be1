// The two enumerators the category manager hands out: categories with their
// descriptions, and the member classes of one category.
#ifndef TAVOCOM_CATEGORIES_ENUMERATORS_H
#define TAVOCOM_CATEGORIES_ENUMERATORS_H

#include "categories/name_list_enumerator.h"

namespace tavo::categories {

/// Walks ComponentCategories. Each record's description is read from the
/// registry during Next, so a description changed after initialisation is
/// seen and a category removed since makes Next fail at that name.
class CCatEnumerator final : public CNameListEnumerator<CCatEnumerator, COM_IEnumCATEGORYINFO> {
public:
    static constexpr const _COM_GUID& kIid = COM_IID_IEnumCATEGORYINFO;
    using CNameListEnumerator::CNameListEnumerator;

    COM_HRESULT Next(uint32_t wanted, COM_CATEGORYINFO** items, uint32_t* fetched) override;
    /// Reads the category names; leaves the registry's key open.
    COM_HRESULT Initialize(COM_IRegistry* registry) noexcept;
};

/// Walks the class entries of one category; Next touches no registry.
class CClsidEnumerator final : public CNameListEnumerator<CClsidEnumerator, COM_IEnumCLSID> {
public:
    static constexpr const _COM_GUID& kIid = COM_IID_IEnumCLSID;
    using CNameListEnumerator::CNameListEnumerator;

    COM_HRESULT Next(uint32_t wanted, _COM_GUID** items, uint32_t* fetched) override;
    /// Reads the class names of `category`, then closes the registry's key.
    COM_HRESULT Initialize(const _COM_GUID& category, COM_IRegistry* registry) noexcept;
};

} // namespace tavo::categories

#endif
