// The render bridges: keep the host's device and present parameters, trigger the lazy
// load of the core module from the per-frame render calls, then forward every call.
#pragma once

#include <cstring>

#include "Orvex.h"
#include "bridge/CoreLoader.h"
#include "bridge/UpdateGate.h"

// The parts that are the same for both Direct3D versions.
template <typename Interface, typename Device, typename Params>
class RenderBridge : public Interface {
  public:
    explicit RenderBridge(const GUID& renderIid) : renderIid_(&renderIid) {
        std::memset(&params_, 0, sizeof(params_));
    }
    virtual ~RenderBridge() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return 1; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    UINT32 STDMETHODCALLTYPE Initialize(Device* device, Params* params, bool flag) override {
        device_ = device;
        if (params != nullptr) params_ = *params;
        flag_ = flag;
        if (core_ == nullptr) {
            coreInitialised_ = false;
            return 0;
        }
        coreInitialised_ = true;
        return core_->Initialize(device, params, flag);
    }

    UINT32 STDMETHODCALLTYPE Render() override {
        if (ReadyToRender()) core_->Render();
        return 0;
    }

    UINT32 STDMETHODCALLTYPE RenderEx() override {
        if (ReadyToRender()) core_->RenderEx();
        return 0;
    }

    UINT32 STDMETHODCALLTYPE Finalize() override {
        coreInitialised_ = false;
        return core_ ? core_->Finalize() : 0;
    }

    void STDMETHODCALLTYPE OnDeviceReset(Params* params) override {
        if (params != nullptr) params_ = *params;
        if (core_ != nullptr) core_->OnDeviceReset(&params_);
    }

    void STDMETHODCALLTYPE OnDeviceLost() override {
        if (core_ != nullptr) core_->OnDeviceLost();
    }

    RenderBridge(const RenderBridge&) = delete;
    RenderBridge& operator=(const RenderBridge&) = delete;

  private:
    // The first call loads the core, the next hands it the kept device; only then may
    // the core render.
    bool ReadyToRender() {
        if (core_ == nullptr) {
            // A waiting first instance stays shut without a call into the loader.
            if (!IsFirstInstanceWaiting())
                core_ = static_cast<Interface*>(LoadCoreModule(*renderIid_));
            return false;
        }
        if (!coreInitialised_) {
            coreInitialised_ = true;
            core_->Initialize(device_, &params_, flag_);
            return false;
        }
        return true;
    }

    const GUID* renderIid_;      // the GUID this bridge asks the loader for
    Interface* core_ = nullptr;  // borrowed from the core module, never released
    bool coreInitialised_ = false;
    Device* device_ = nullptr;  // no reference taken
    Params params_;
    bool flag_ = false;
};

// Final, so the exports call the bridge's slots directly and inline them.
class OrvexBridgeDx8 final : public RenderBridge<IORVEXDx8, IDirect3DDevice8, OrvexPresentParams8> {
  public:
    OrvexBridgeDx8() : RenderBridge(IID_IORVEXDx8) {}
};

class OrvexBridgeDx9 final : public RenderBridge<IORVEXDx9, IDirect3DDevice9, OrvexPresentParams9> {
  public:
    OrvexBridgeDx9() : RenderBridge(IID_IORVEXDx9) {}
};
