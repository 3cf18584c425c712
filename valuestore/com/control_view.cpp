// The Valtrove control's window and picture: in-place activation in the container's window (the
// control's own window, shown only while the host's form is designed), the design-time picture
// (the toolbox bitmap), and the small container interfaces around them.
#include <olectl.h>

#include "common/win32/window.h"
#include "valuestore/com/control.h"
#include "valuestore/com/control_facts.h"
#include "valuestore/com/module.h"

#include <memory>

namespace vtc {
namespace {

using qz::win32::PaintContext;
using qz::win32::SelectedObject;
using qz::win32::UniqueBitmap;
using qz::win32::UniqueDc;
using qz::win32::WindowDc;

constexpr wchar_t kWindowClass[] = L"ValtroveControlWindow";
constexpr int kBitmapWidth = 16;
constexpr int kBitmapHeight = 15;

// The control's window while it is in place: it shows the control's picture, and a click in it
// reloads the values. The view belongs to its window and goes with it.
class ControlView final : public qz::win32::Window<ControlView> {
public:
    static bool registerWindowClass() {
        WNDCLASSEXW windowClass{};
        windowClass.hInstance = moduleInstance();
        windowClass.lpszClassName = kWindowClass;
        return registerClass(windowClass);
    }

    // The window of a registered class, made a child of PARENT at the top left of POSITION,
    // SIZE pixels square; nullptr on failure (with the system's error).
    static HWND open(ValtroveControl& control, HWND parent, const RECT& position, int size) {
        std::unique_ptr<ControlView> view(new ControlView(control));
        const HWND window = view->createWindow(0, kWindowClass, L"", WS_CHILD | WS_CLIPSIBLINGS, position.left,
                                               position.top, size, size, parent, nullptr, moduleInstance());
        if (window) view.release()->ownedByWindow_ = true;
        return window;
    }

private:
    friend class qz::win32::Window<ControlView>;
    explicit ControlView(ValtroveControl& control) : control_(control) {}

    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
        switch (message) {
        case WM_PAINT: onPaint(); return 0;
        case WM_LBUTTONUP: return onClick();
        default: return defaultHandling(message, wParam, lParam);
        }
    }

    void onPaint() {
        PaintContext paint(hwnd());
        RECT client;
        GetClientRect(hwnd(), &client);
        drawControlPicture(paint.dc(), client);
    }

    // A failed reload goes back to whoever sent or dispatched the click, as the message result
    // (its error object is left on the thread).
    LRESULT onClick() { return static_cast<LRESULT>(control_.click()); }

    void onFinalMessage() noexcept {
        if (ownedByWindow_) delete this;
    }

    ValtroveControl& control_;
    bool ownedByWindow_ = false; // from the moment its window exists; until then open owns it
};

// The container's ambient UserMode: false while the host's form is designed (true when unknown).
bool userMode(IOleClientSite* site) {
    ComPtr<IDispatch> ambient;
    if (!site || FAILED(site->QueryInterface(IID_IDispatch, ambient.outVoid()))) return true;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    Variant result;
    if (FAILED(ambient->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                               result.get(), nullptr, nullptr)))
        return true;
    Variant flag;
    if (FAILED(VariantChangeType(flag.get(), result.get(), 0, VT_BOOL))) return true;
    return V_BOOL(flag.get()) != VARIANT_FALSE;
}

int sizeInPixels() {
    const WindowDc screen(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen.get(), LOGPIXELSX) : 96;
    return MulDiv(kSizeTwips, dpi, 1440);
}

} // namespace

void unregisterControlWindowClass() { UnregisterClassW(kWindowClass, moduleInstance()); }

void drawControlPicture(HDC dc, const RECT& bounds) {
    const UniqueBitmap bitmap(LoadBitmapW(moduleInstance(), MAKEINTRESOURCEW(kToolboxBitmap)));
    if (!bitmap) return;
    const UniqueDc memory(CreateCompatibleDC(dc));
    if (!memory) return;
    const SelectedObject selected(memory.get(), bitmap.get());
    const int oldMode = SetStretchBltMode(dc, COLORONCOLOR);
    StretchBlt(dc, bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top, memory.get(), 0, 0,
               kBitmapWidth, kBitmapHeight, SRCCOPY);
    SetStretchBltMode(dc, oldMode);
}

HRESULT ValtroveControl::click() {
    // Only the failure of this reload may leave an error object behind.
    SetErrorInfo(0, nullptr);
    Variant result;
    return GetDataValues(result.get());
}

HRESULT ValtroveControl::activateInPlace(IOleClientSite* site) {
    if (window_) {
        if (!userMode(site_.get())) ShowWindow(window_, SW_SHOWNA);
        return S_OK;
    }
    // Without an in-place site there is nothing to show: the control works through its methods.
    ComPtr<IOleInPlaceSite> inPlaceSite;
    if (!site || FAILED(site->QueryInterface(IID_IOleInPlaceSite, inPlaceSite.outVoid()))) return S_OK;
    if (inPlaceSite->CanInPlaceActivate() != S_OK) return S_OK;
    HRESULT hr = inPlaceSite->OnInPlaceActivate();
    if (FAILED(hr)) return hr;
    HWND parent = nullptr;
    ComPtr<IOleInPlaceFrame> frame;
    ComPtr<IOleInPlaceUIWindow> document;
    RECT position{}, clip{};
    OLEINPLACEFRAMEINFO frameInfo{};
    frameInfo.cb = sizeof(frameInfo);
    if (FAILED(hr = inPlaceSite->GetWindow(&parent)) ||
        FAILED(hr = inPlaceSite->GetWindowContext(frame.out(), document.out(), &position, &clip, &frameInfo)) ||
        !ControlView::registerWindowClass()) {
        inPlaceSite->OnInPlaceDeactivate();
        return FAILED(hr) ? hr : E_FAIL;
    }
    window_ = ControlView::open(*this, parent, position, sizeInPixels());
    if (!window_) {
        inPlaceSite->OnInPlaceDeactivate();
        return HRESULT_FROM_WIN32(GetLastError());
    }
    EnableWindow(window_, enabled_);
    // Invisible at run time.
    if (!userMode(site_ ? site_.get() : site)) ShowWindow(window_, SW_SHOWNA);
    inPlaceSite_ = std::move(inPlaceSite);
    return S_OK;
}

// ---- IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject --------------------------------------

HRESULT STDMETHODCALLTYPE ValtroveControl::GetWindow(HWND* window) {
    if (!window) return E_POINTER;
    *window = window_;
    return window_ ? S_OK : E_FAIL;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE ValtroveControl::InPlaceDeactivate() {
    if (!inPlaceSite_) return S_OK;
    if (window_) {
        // The enabled state outlives the window.
        enabled_ = IsWindowEnabled(window_) != FALSE;
        DestroyWindow(window_);
        window_ = nullptr;
    }
    ComPtr<IOleInPlaceSite> site = std::move(inPlaceSite_);
    site->OnInPlaceDeactivate();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::UIDeactivate() { return S_OK; }

HRESULT STDMETHODCALLTYPE ValtroveControl::SetObjectRects(LPCRECT position, LPCRECT) {
    if (!position) return E_POINTER;
    // Whatever the rectangle, the control keeps its fixed size.
    if (window_)
        SetWindowPos(window_, nullptr, position->left, position->top, sizeInPixels(), sizeInPixels(),
                     SWP_NOZORDER | SWP_NOACTIVATE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::ReactivateAndUndo() { return INPLACE_E_NOTUNDOABLE; }

HRESULT STDMETHODCALLTYPE ValtroveControl::TranslateAccelerator(LPMSG) { return S_FALSE; }
HRESULT STDMETHODCALLTYPE ValtroveControl::OnFrameWindowActivate(BOOL) { return S_OK; }
HRESULT STDMETHODCALLTYPE ValtroveControl::OnDocWindowActivate(BOOL) { return S_OK; }
HRESULT STDMETHODCALLTYPE ValtroveControl::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) { return S_OK; }
HRESULT STDMETHODCALLTYPE ValtroveControl::EnableModeless(BOOL) { return S_OK; }

// ---- IOleControl ----------------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE ValtroveControl::GetControlInfo(CONTROLINFO* info) {
    if (!info) return E_POINTER;
    if (info->cb < sizeof(CONTROLINFO)) return E_INVALIDARG;
    info->hAccel = nullptr; // no mnemonics
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::OnMnemonic(MSG*) { return S_OK; }
HRESULT STDMETHODCALLTYPE ValtroveControl::OnAmbientPropertyChange(DISPID) { return S_OK; }
HRESULT STDMETHODCALLTYPE ValtroveControl::FreezeEvents(BOOL) { return S_OK; }

// ---- IViewObject2 ---------------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE ValtroveControl::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc,
                                                LPCRECTL bounds, LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR),
                                                ULONG_PTR) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!dc || !bounds) return E_INVALIDARG;
    const RECT rect{bounds->left, bounds->top, bounds->right, bounds->bottom};
    drawControlPicture(dc, rect);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colors) {
    if (colors) *colors = nullptr;
    return S_FALSE;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::Freeze(DWORD, LONG, void*, DWORD* freeze) {
    if (freeze) *freeze = 0;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::Unfreeze(DWORD) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE ValtroveControl::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
    viewAspects_ = aspects;
    viewFlags_ = flags;
    viewSink_ = ComPtr<IAdviseSink>(sink);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
    if (aspects) *aspects = viewAspects_;
    if (flags) *flags = viewFlags_;
    if (sink) *sink = viewSink_.copy();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
    return GetExtent(aspect, size);
}

} // namespace vtc
