// COM apartments, the class table and CoCreateInstance, as Windows gives them.
#include <gtest/gtest.h>

#include <future>

#include "com_test_support.h"
#include "standin/com_control.h"

namespace {

using Microsoft::WRL::ComPtr;
using zntr::platform::ComCreationFailure;
using zntr::platform::ComObject;
using zntr::test::ComApartment;
using zntr::test::OnFreshThread;
using zntr::test::ReferenceCount;

// {A1B2C3D4-0000-4000-8000-00000000C0DE}: a class of the tests' own.
constexpr CLSID kTestClass = {
    0xA1B2C3D4, 0x0000, 0x4000, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0xDE}};

// A plain object the test factory makes.
class Marker final : public ComObject<IUnknown> {
  protected:
    bool Answers(REFIID) const override { return false; }
};

// A class object that counts its creations and makes Marker objects, or fails with a set status.
class TestFactory final : public ComObject<IClassFactory> {
  public:
    explicit TestFactory(HRESULT result = S_OK) : result_(result) {}
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        ++created;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        if (FAILED(result_)) {
            return result_;
        }
        return zntr::platform::CreateComObject<Marker>(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
    int created = 0;

  protected:
    bool Answers(REFIID riid) const override { return IsEqualIID(riid, IID_IClassFactory); }

  private:
    HRESULT result_;
};

HRESULT CreateUnknown(REFCLSID clsid, DWORD context, ComPtr<IUnknown>& object) {
    return CoCreateInstance(clsid, nullptr, context, IID_IUnknown,
                            reinterpret_cast<void**>(object.ReleaseAndGetAddressOf()));
}

TEST(ComApartmentTest, ASecondEntryInTheSameModelCountsAndTheOtherModelIsRefused) {
    OnFreshThread([] {
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
        EXPECT_EQ(CoInitializeEx(reinterpret_cast<void*>(1), COINIT_MULTITHREADED), E_INVALIDARG);
        // Two successes, two CoUninitialize calls; then the thread is out and may choose again.
        CoUninitialize();
        CoUninitialize();
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        CoUninitialize();
        // One more than entered changes nothing.
        CoUninitialize();
    });
}

TEST(ComApartmentTest, CreationNeedsTheThreadsApartmentOrTheProcessesMultithreadedOne) {
    // No thread holds the multithreaded apartment: a thread outside COM cannot create.
    OnFreshThread([] {
        ComPtr<IUnknown> object;
        EXPECT_EQ(CreateUnknown(CLSID_PortableDeviceValues, CLSCTX_INPROC_SERVER, object),
                  CO_E_NOTINITIALIZED);
        EXPECT_EQ(object.Get(), nullptr);
    });
    // A single-threaded apartment of its own is enough.
    OnFreshThread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        ComPtr<IUnknown> object;
        EXPECT_EQ(CreateUnknown(CLSID_PortableDeviceValues, CLSCTX_INPROC_SERVER, object), S_OK);
        object = nullptr;
        CoUninitialize();
    });
    // While another thread holds the multithreaded apartment open, every thread is in it.
    std::promise<void> entered;
    std::promise<void> done;
    std::thread holder([&] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        entered.set_value();
        done.get_future().wait();
        CoUninitialize();
    });
    entered.get_future().wait();
    OnFreshThread([] {
        ComPtr<IUnknown> object;
        EXPECT_EQ(CreateUnknown(CLSID_PortableDeviceValues, CLSCTX_INPROC_SERVER, object), S_OK);
    });
    done.set_value();
    holder.join();
    OnFreshThread([] {
        ComPtr<IUnknown> object;
        EXPECT_EQ(CreateUnknown(CLSID_PortableDeviceValues, CLSCTX_INPROC_SERVER, object),
                  CO_E_NOTINITIALIZED);
    });
}

TEST(CoCreateInstanceTest, RefusesWhatTheClassTableCannotServe) {
    ComApartment apartment;
    void* const kStale = reinterpret_cast<void*>(0x1234);
    struct Case {
        const char* legend;
        CLSID clsid;
        bool aggregate;
        DWORD context;
        IID iid;
        HRESULT expected;
    };
    const Case cases[] = {
        {"a class nobody registered", kTestClass, false, CLSCTX_INPROC_SERVER, IID_IUnknown,
         REGDB_E_CLASSNOTREG},
        {"only out-of-process servers asked for", CLSID_PortableDeviceValues, false,
         CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER, IID_IUnknown, REGDB_E_CLASSNOTREG},
        {"aggregation, which no collection supports", CLSID_PortableDeviceValues, true,
         CLSCTX_INPROC_SERVER, IID_IUnknown, CLASS_E_NOAGGREGATION},
        {"an interface the class does not have", CLSID_PortableDeviceValues, false,
         CLSCTX_INPROC_SERVER, IID_IPortableDeviceKeyCollection, E_NOINTERFACE},
        {"the key collection asked for the values interface", CLSID_PortableDeviceKeyCollection,
         false, CLSCTX_ALL, IID_IPortableDeviceValues, E_NOINTERFACE},
    };
    ComPtr<IUnknown> outer = zntr::test::NewValues();
    for (const Case& c : cases) {
        void* object = kStale;
        EXPECT_EQ(CoCreateInstance(c.clsid, c.aggregate ? outer.Get() : nullptr, c.context, c.iid,
                                   &object),
                  c.expected)
            << c.legend;
        EXPECT_EQ(object, nullptr) << c.legend << ": the out pointer is cleared";
    }
    EXPECT_EQ(CoCreateInstance(CLSID_PortableDeviceValues, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IUnknown, nullptr),
              E_POINTER);
}

TEST(CoCreateInstanceTest, EachCollectionAnswersItsInterfaceAndOneIdentity) {
    ComApartment apartment;
    const std::pair<CLSID, IID> classes[] = {
        {CLSID_PortableDeviceValues, IID_IPortableDeviceValues},
        {CLSID_PortableDeviceKeyCollection, IID_IPortableDeviceKeyCollection},
        {CLSID_PortableDeviceValuesCollection, IID_IPortableDeviceValuesCollection},
    };
    for (const auto& [clsid, iid] : classes) {
        ComPtr<IUnknown> object;
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid,
                                   reinterpret_cast<void**>(object.GetAddressOf())),
                  S_OK);
        EXPECT_EQ(ReferenceCount(object.Get()), 1u) << "the creator's reference is not kept";
        ComPtr<IUnknown> identity;
        ASSERT_EQ(
            object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(identity.GetAddressOf())),
            S_OK);
        EXPECT_EQ(identity.Get(), object.Get());
    }
}

TEST(CoRegisterClassObjectTest, ARegisteredClassObjectComesBeforeTheSystemsClassUntilRevoked) {
    ComApartment apartment;
    TestFactory* factory = new TestFactory(E_ABORT);
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(CLSID_PortableDeviceValues, factory, CLSCTX_INPROC_SERVER,
                                    REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    EXPECT_NE(cookie, 0u);
    EXPECT_EQ(ReferenceCount(factory), 2u) << "the table holds a reference";
    ComPtr<IUnknown> object;
    EXPECT_EQ(CreateUnknown(CLSID_PortableDeviceValues, CLSCTX_INPROC_SERVER, object), E_ABORT);
    EXPECT_EQ(CreateUnknown(CLSID_PortableDeviceValues, CLSCTX_INPROC_SERVER, object), E_ABORT);
    EXPECT_EQ(factory->created, 2);

    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_EQ(ReferenceCount(factory), 1u) << "revoking releases the table's reference";
    EXPECT_EQ(CreateUnknown(CLSID_PortableDeviceValues, CLSCTX_INPROC_SERVER, object), S_OK);
    EXPECT_EQ(CoRevokeClassObject(cookie), E_INVALIDARG) << "a cookie is good once";
    factory->Release();
}

TEST(CoRegisterClassObjectTest, TheRegistrationDecidesWhatItServes) {
    ComApartment apartment;
    struct Case {
        const char* legend;
        DWORD context;
        DWORD flags;
        int servedCreations;  // of three tried
    };
    const Case cases[] = {
        {"in-process, multiple use", CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, 3},
        {"in-process, single use", CLSCTX_INPROC_SERVER, REGCLS_SINGLEUSE, 1},
        {"local server, multiple use also serves in-process", CLSCTX_LOCAL_SERVER,
         REGCLS_MULTIPLEUSE, 3},
        {"local server, separate multiple use does not", CLSCTX_LOCAL_SERVER, REGCLS_MULTI_SEPARATE,
         0},
    };
    for (const Case& c : cases) {
        ComPtr<TestFactory> factory;
        factory.Attach(new TestFactory());
        DWORD cookie = 0;
        ASSERT_EQ(CoRegisterClassObject(kTestClass, factory.Get(), c.context, c.flags, &cookie),
                  S_OK)
            << c.legend;
        int served = 0;
        for (int i = 0; i < 3; ++i) {
            ComPtr<IUnknown> object;
            served += SUCCEEDED(CreateUnknown(kTestClass, CLSCTX_INPROC_SERVER, object));
        }
        EXPECT_EQ(served, c.servedCreations) << c.legend;
        EXPECT_EQ(factory->created, c.servedCreations) << c.legend;
        EXPECT_EQ(CoRevokeClassObject(cookie), S_OK) << c.legend;
    }
}

TEST(CoRegisterClassObjectTest, RefusesWhatCannotBeAClassObject) {
    ComPtr<IUnknown> notAFactory;
    notAFactory.Attach(new Marker());
    DWORD cookie = 99;
    OnFreshThread([&] {
        EXPECT_EQ(CoRegisterClassObject(kTestClass, notAFactory.Get(), CLSCTX_INPROC_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookie),
                  CO_E_NOTINITIALIZED);
    });
    ComApartment apartment;
    EXPECT_EQ(CoRegisterClassObject(kTestClass, notAFactory.Get(), CLSCTX_INPROC_SERVER,
                                    REGCLS_MULTIPLEUSE, &cookie),
              E_NOINTERFACE);
    EXPECT_EQ(CoRegisterClassObject(kTestClass, nullptr, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                    &cookie),
              E_INVALIDARG);
    EXPECT_EQ(ReferenceCount(notAFactory.Get()), 1u);
}

TEST(ComCreationFailureTest, FailsTheChosenClassAfterTheGivenSuccessesAndNothingElse) {
    ComApartment apartment;
    ComPtr<IUnknown> object;
    {
        ComCreationFailure failure(CLSID_PortableDeviceKeyCollection, E_OUTOFMEMORY, 1);
        EXPECT_EQ(CreateUnknown(CLSID_PortableDeviceKeyCollection, CLSCTX_INPROC_SERVER, object),
                  S_OK);
        EXPECT_EQ(CreateUnknown(CLSID_PortableDeviceKeyCollection, CLSCTX_INPROC_SERVER, object),
                  E_OUTOFMEMORY);
        EXPECT_EQ(object.Get(), nullptr);
        EXPECT_EQ(CreateUnknown(CLSID_PortableDeviceValues, CLSCTX_INPROC_SERVER, object), S_OK);
        {
            // A second failure on top: both classes fail, each with its own status.
            ComCreationFailure second(CLSID_PortableDeviceValues, E_ACCESSDENIED);
            EXPECT_EQ(CreateUnknown(CLSID_PortableDeviceValues, CLSCTX_INPROC_SERVER, object),
                      E_ACCESSDENIED);
            EXPECT_EQ(
                CreateUnknown(CLSID_PortableDeviceKeyCollection, CLSCTX_INPROC_SERVER, object),
                E_OUTOFMEMORY);
        }
        EXPECT_EQ(CreateUnknown(CLSID_PortableDeviceValues, CLSCTX_INPROC_SERVER, object), S_OK);
        EXPECT_EQ(failure.Failed(), 2u);
    }
    EXPECT_EQ(CreateUnknown(CLSID_PortableDeviceKeyCollection, CLSCTX_INPROC_SERVER, object), S_OK);
}

}  // namespace
