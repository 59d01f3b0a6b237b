#include <gtest/gtest.h>

#include <thread>

#include "platform/com/ClassTable.h"
#include "platform/com/ErrorInfo.h"
#include "platform/com/ErrorText.h"
#include "platform/com/Language.h"

namespace {

struct IAnimal : IUnknown {
    VA_INTERFACE_ID("11111111-2222-3333-4444-555555555555");
    virtual int Legs() = 0;
};
struct IPet : IUnknown {
    VA_INTERFACE_ID("66666666-7777-8888-9999-AAAAAAAAAAAA");
    virtual const char* Name() = 0;
};
struct IBird : IAnimal {
    VA_INTERFACE_ID("ABCDEF01-2345-6789-ABCD-EF0123456789");
    virtual bool Flies() = 0;
};

int g_live = 0;

class CDog : public CUnknownImpl<CDog, IAnimal, IPet> {
public:
    CDog() { ++g_live; }
    ~CDog() override { --g_live; }
    int Legs() override { return 4; }
    const char* Name() override { return "Rex"; }
};

class CSparrow : public CUnknownImpl<CSparrow, IBird> {
public:
    CSparrow() { ++g_live; }
    ~CSparrow() override { --g_live; }
    int Legs() override { return 2; }
    bool Flies() override { return true; }
    // A derived interface answers its base too.
    HRESULT QueryInterfaceExtra(REFIID riid, void** ppv) {
        if (riid == IAnimal::iid) {
            *ppv = static_cast<IAnimal*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
};

constexpr GUID CLSID_Dog = MakeGuid("{0DDB0DDB-0000-0000-0000-000000000001}");

TEST(Guid, ParsesAndFormatsBothWays) {
    auto g = GuidFromString("{6BA242CC-B9A8-4255-AC01-D88F6B7F483B}");
    ASSERT_TRUE(g.has_value());
    EXPECT_EQ(g->Data1, 0x6BA242CCu);
    EXPECT_EQ(g->Data2, 0xB9A8);
    EXPECT_EQ(g->Data3, 0x4255);
    EXPECT_EQ(g->Data4[0], 0xAC);
    EXPECT_EQ(g->Data4[7], 0x3B);
    EXPECT_EQ(GuidToString(*g), "{6BA242CC-B9A8-4255-AC01-D88F6B7F483B}");
    // lower case and no braces parse the same
    EXPECT_EQ(GuidFromString("6ba242cc-b9a8-4255-ac01-d88f6b7f483b"), g);
    EXPECT_EQ(MakeGuid("6BA242CC-B9A8-4255-AC01-D88F6B7F483B"), *g);
}

TEST(Guid, RejectsMalformedText) {
    for (const char* bad :
         {"", "{}", "6BA242CC-B9A8-4255-AC01-D88F6B7F483", "{6BA242CC-B9A8-4255-AC01-D88F6B7F483B",
          "6BA242CCXB9A8-4255-AC01-D88F6B7F483B", "6BA242CC-B9A8-4255-AC01-D88F6B7F48ZZ"})
        EXPECT_FALSE(GuidFromString(bad).has_value()) << bad;
}

TEST(ComObject, ReferenceCountingDeletesAtLastRelease) {
    g_live = 0;
    {
        CComPtr<IAnimal> animal(new CDog);
        EXPECT_EQ(g_live, 1);
        EXPECT_EQ(animal->Legs(), 4);
        CComPtr<IAnimal> copy = animal;
        CComPtr<IAnimal> moved = std::move(copy);
        EXPECT_FALSE(copy);
        EXPECT_EQ(static_cast<CDog*>(animal.Get())->RefCount(), 2u);
    }
    EXPECT_EQ(g_live, 0);
}

TEST(ComObject, AssignmentFromAnotherInterfaceQueries) {
    g_live = 0;
    {
        CComPtr<IAnimal> animal(new CDog);
        CComPtr<IPet> pet = animal;  // queries
        ASSERT_TRUE(pet);
        EXPECT_STREQ(pet->Name(), "Rex");
        EXPECT_TRUE(IsSameObject(animal, pet));
        CComPtr<IBird> bird = animal;  // not answered: holds nothing
        EXPECT_FALSE(bird);
        CComPtr<IUnknown> unknown = pet;
        EXPECT_TRUE(unknown);
    }
    EXPECT_EQ(g_live, 0);
}

TEST(ComObject, QueryInterfaceRules) {
    CComPtr<IBird> bird(new CSparrow);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(bird->QueryInterface(IPet::iid, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(bird->QueryInterface(IPet::iid, nullptr), E_POINTER);
    CComPtr<IAnimal> animal = bird;  // derived to base: no query needed
    ASSERT_TRUE(animal);
    CComPtr<IAnimal> viaExtra;
    EXPECT_EQ(bird.QueryInterface(&viaExtra), S_OK);
    EXPECT_EQ(viaExtra->Legs(), 2);
    CComPtr<IAnimal> empty;
    CComPtr<IPet> fromEmpty;
    EXPECT_EQ(empty.QueryInterface(&fromEmpty), E_POINTER);
}

TEST(ComObject, AttachAndDetachKeepTheCountBalanced) {
    g_live = 0;
    IAnimal* raw = nullptr;
    {
        CComPtr<IAnimal> a(new CDog);
        raw = a.Detach();
    }
    EXPECT_EQ(g_live, 1);
    {
        CComPtr<IAnimal> b;
        b.Attach(raw);
    }
    EXPECT_EQ(g_live, 0);
}

TEST(ClassTable, CreatesRegisteredClassesOnly) {
    g_live = 0;
    CComPtr<IPet> pet;
    EXPECT_EQ(pet.CreateInstance(CLSID_Dog), REGDB_E_CLASSNOTREG);
    ASSERT_TRUE(RegisterClassFactory(CLSID_Dog, &CreateAndQuery<CDog>));
    EXPECT_EQ(pet.CreateInstance(CLSID_Dog), S_OK);
    EXPECT_STREQ(pet->Name(), "Rex");
    CComPtr<IBird> bird;
    EXPECT_EQ(bird.CreateInstance(CLSID_Dog), E_NOINTERFACE);
    EXPECT_EQ(g_live, 1);  // the failed query released its object
    pet = nullptr;
    EXPECT_EQ(g_live, 0);
    UnregisterClassFactory(CLSID_Dog);
    EXPECT_FALSE(IsClassRegistered(CLSID_Dog));
}

TEST(ErrorInfo, IsPerThreadAndTakenOnce) {
    SetErrorDescription("disk on fire");
    std::thread other([] {
        IErrorInfo* info = reinterpret_cast<IErrorInfo*>(1);
        EXPECT_EQ(GetErrorInfo(0, &info), S_FALSE);
        EXPECT_EQ(info, nullptr);
    });
    other.join();
    IErrorInfo* info = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    std::string d;
    info->GetDescription(&d);
    EXPECT_EQ(d, "disk on fire");
    info->Release();
    EXPECT_EQ(GetErrorInfo(0, &info), S_FALSE);
}

TEST(HResult, WindowsValues) {
    EXPECT_EQ(static_cast<uint32_t>(E_FAIL), 0x80004005u);
    EXPECT_EQ(static_cast<uint32_t>(E_INVALIDARG), 0x80070057u);
    EXPECT_EQ(static_cast<uint32_t>(VFW_E_NOT_FOUND), 0x80040216u);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_TIMEOUT), static_cast<HRESULT>(0x800705B4u));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), HRESULT_FILE_NOT_FOUND);
    EXPECT_EQ(HRESULT_FROM_WIN32(0), S_OK);
    EXPECT_TRUE(SUCCEEDED(S_FALSE));
    EXPECT_TRUE(FAILED(NS_E_FILE_NOT_FOUND));
}

TEST(ErrorText, MediaAndSystemTablesInBothLanguages) {
    EXPECT_EQ(AMGetErrorText(VFW_E_NOT_FOUND, LANG_ENGLISH_US), "An object or name was not found.");
    EXPECT_FALSE(AMGetErrorText(VFW_E_NOT_FOUND, 1031).empty());
    EXPECT_NE(AMGetErrorText(VFW_E_NOT_FOUND, 1031), AMGetErrorText(VFW_E_NOT_FOUND, 1033));
    EXPECT_EQ(AMGetErrorText(E_FAIL, 1033), "");  // not a media code
    EXPECT_EQ(FormatSystemMessage(E_FAIL, 1033), "Unspecified error\r\n");
    EXPECT_EQ(FormatSystemMessage(VFW_E_INVALIDSUBTYPE, 1033), "");
    EXPECT_EQ(AMGetErrorText(VFW_E_INVALIDSUBTYPE, 1033), "");
}

}  // namespace

namespace {
// A class holding a CComPtr copies with the implicit assignment operator.
struct CHolder {
    CComPtr<IAnimal> animal;
};

TEST(ComObject, HoldersCopyAndSelfAssign) {
    g_live = 0;
    {
        CHolder a{CComPtr<IAnimal>(new CDog)};
        CHolder b;
        b = a;
        EXPECT_EQ(static_cast<CDog*>(a.animal.Get())->RefCount(), 2u);
        CHolder& same = b;
        b = same;
        EXPECT_EQ(static_cast<CDog*>(a.animal.Get())->RefCount(), 2u);
    }
    EXPECT_EQ(g_live, 0);
}
}  // namespace
