// The application bridge: answers the application calls itself until the core module's
// application interface is attached, keeping the latest application and login records,
// then replays them and forwards every call.
#pragma once

#include <memory>

#include "Orvex.h"

// A heap copy of a wide text owned by the bridge; a null source is stored as "".
class OwnedText {
  public:
    OwnedText() = default;
    explicit OwnedText(const wchar_t* source);
    const wchar_t* Get() const { return text_ ? text_.get() : nullptr; }

  private:
    std::unique_ptr<wchar_t[]> text_;
};

class OrvexBridgeApp : public IORVEXApp {
  public:
    OrvexBridgeApp();
    virtual ~OrvexBridgeApp();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    void STDMETHODCALLTYPE ModifyAppInfo(AppInfo* info) override;
    void STDMETHODCALLTYPE Login(LoginInfo* info) override;
    void STDMETHODCALLTYPE Logout() override;
    UINT32 STDMETHODCALLTYPE GetLoginState() override;
    UINT32 STDMETHODCALLTYPE OnWindowProc(UINT32 a, UINT32 b, UINT32 c, UINT32 d,
                                          UINT32 e) override;
    UINT32 STDMETHODCALLTYPE HasUI(UINT32 value) override;
    // Given no behaviour: the host's Show/MoveTo calls end here and reach no core.
    void STDMETHODCALLTYPE Show(UINT32 value) override;
    void STDMETHODCALLTYPE MoveTo(UINT32 value) override;

    // Records the core's interface (borrowed, never released) and replays what is pending.
    void Attach(IORVEXApp* core);

    void SetHostHandle(UINT32 handle) { hostHandle_ = handle; }
    UINT32 HostHandle() const { return hostHandle_; }
    AppInfo* StoredAppInfo() { return &appInfo_; }
    UINT32 DxVersion() const { return appInfo_.nDxVersion; }

    OrvexBridgeApp(const OrvexBridgeApp&) = delete;
    OrvexBridgeApp& operator=(const OrvexBridgeApp&) = delete;

  private:
    void StoreLogin(UINT32 cbSize, const wchar_t* first, const wchar_t* second);

    IORVEXApp* core_ = nullptr;
    UINT32 hostHandle_ = 0;
    AppInfo appInfo_ = {};
    OwnedText appText1_;
    OwnedText appText2_;
    bool appPending_ = false;
    LoginInfo loginInfo_ = {};
    OwnedText loginFirst_;
    OwnedText loginSecond_;
    bool loginPending_ = false;
};
