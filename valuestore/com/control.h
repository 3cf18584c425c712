// The Valtrove control object: the automation interface _Valtrove over the value store core,
// the AllData and ValueList collections published by each load, errors to the host through
// IErrorInfo, and the ambiguity warning as a modal message box.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <oleidl.h>

#include <cstdint>
#include <string>

#include "ValtroveCtrl_h.h"
#include "valuestore/com/automation.h"
#include "valuestore/com/com_object.h"
#include "valuestore/com/com_util.h"
#include "valuestore/com/connection_point.h"
#include "valuestore/com/control_facts.h"
#include "valuestore/core/value_store.h"

namespace vtc {

class ValtroveControl final
    : public ComObject<ValtroveControl, Automation<_Valtrove, TypeId::valtrove>, IPersistPropertyBag,
                       IPersistStreamInit, IPersistStorage, IConnectionPointContainer, IProvideClassInfo2, IOleObject,
                       IOleInPlaceObject, IOleInPlaceActiveObject, IOleControl, IViewObject2>,
      private vs::Warner {
public:
    static HRESULT create(REFIID riid, void** out);
    // IUnknown comes from ComObject, IDispatch and ISupportErrorInfo from Automation.
    static InterfaceTable<ValtroveControl> interfaces();

    // _Valtrove
    HRESULT STDMETHODCALLTYPE get_AllData(Collection** value) override;
    HRESULT STDMETHODCALLTYPE putref_AllData(Collection* value) override;
    HRESULT STDMETHODCALLTYPE get_ValueList(Collection** value) override;
    HRESULT STDMETHODCALLTYPE putref_ValueList(Collection* value) override;
    HRESULT STDMETHODCALLTYPE get_NewValueData(BSTR* value) override;
    HRESULT STDMETHODCALLTYPE put_NewValueData(BSTR value) override;
    HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL* value) override;
    HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL value) override;
    HRESULT STDMETHODCALLTYPE get_DataFile(VARIANT* value) override;
    HRESULT STDMETHODCALLTYPE put_DataFile(VARIANT value) override;
    HRESULT STDMETHODCALLTYPE ClearAll(VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE AddDataValue(BSTR* name, VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE RewriteDataValue(BSTR* name, VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE RemoveDataValue(BSTR name, VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE GetDataValues(VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE get_AutomaticRewrite(VARIANT_BOOL* value) override;
    HRESULT STDMETHODCALLTYPE put_AutomaticRewrite(VARIANT_BOOL value) override;
    // IPersist (IPersistPropertyBag, IPersistStreamInit, IPersistStorage)
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
    HRESULT STDMETHODCALLTYPE InitNew() override;
    HRESULT STDMETHODCALLTYPE Load(IPropertyBag* bag, IErrorLog* log) override;
    HRESULT STDMETHODCALLTYPE Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;
    HRESULT STDMETHODCALLTYPE IsDirty() override;
    HRESULT STDMETHODCALLTYPE Load(IStream* stream) override;
    HRESULT STDMETHODCALLTYPE Save(IStream* stream, BOOL clearDirty) override;
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) override;
    // IPersistStorage: the stream layout in the storage's stream "Contents"
    HRESULT STDMETHODCALLTYPE InitNew(IStorage* storage) override;
    HRESULT STDMETHODCALLTYPE Load(IStorage* storage) override;
    HRESULT STDMETHODCALLTYPE Save(IStorage* storage, BOOL sameAsLoad) override;
    HRESULT STDMETHODCALLTYPE SaveCompleted(IStorage* storage) override;
    HRESULT STDMETHODCALLTYPE HandsOffStorage() override;
    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** out) override;
    // IProvideClassInfo2
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** out) override;
    HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* guid) override;
    // IOleObject
    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override;
    HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) override;
    HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR app, LPCOLESTR object) override;
    HRESULT STDMETHODCALLTYPE Close(DWORD saveOption) override;
    HRESULT STDMETHODCALLTYPE SetMoniker(DWORD which, IMoniker* moniker) override;
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
    HRESULT STDMETHODCALLTYPE InitFromData(IDataObject* data, BOOL creation, DWORD reserved) override;
    HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD reserved, IDataObject** data) override;
    HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG msg, IOleClientSite* site, LONG index, HWND parent,
                                     LPCRECT rect) override;
    HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB** verbs) override;
    HRESULT STDMETHODCALLTYPE Update() override;
    HRESULT STDMETHODCALLTYPE IsUpToDate() override;
    HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* clsid) override;
    HRESULT STDMETHODCALLTYPE GetUserType(DWORD form, LPOLESTR* type) override;
    HRESULT STDMETHODCALLTYPE SetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT STDMETHODCALLTYPE Advise(IAdviseSink* sink, DWORD* connection) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD connection) override;
    HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA** advise) override;
    HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD aspect, DWORD* status) override;
    HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE* palette) override;

    // IOleWindow (IOleInPlaceObject, IOleInPlaceActiveObject)
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL enter) override;
    // IOleInPlaceObject
    HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override;
    HRESULT STDMETHODCALLTYPE UIDeactivate() override;
    HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT position, LPCRECT clip) override;
    HRESULT STDMETHODCALLTYPE ReactivateAndUndo() override;
    // IOleInPlaceActiveObject
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG msg) override;
    HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL activate) override;
    HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL activate) override;
    HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frame) override;
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL enable) override;
    // IOleControl
    HRESULT STDMETHODCALLTYPE GetControlInfo(CONTROLINFO* info) override;
    HRESULT STDMETHODCALLTYPE OnMnemonic(MSG* msg) override;
    HRESULT STDMETHODCALLTYPE OnAmbientPropertyChange(DISPID id) override;
    HRESULT STDMETHODCALLTYPE FreezeEvents(BOOL freeze) override;
    // IViewObject2
    HRESULT STDMETHODCALLTYPE Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device, HDC targetDevice,
                                   HDC dc, LPCRECTL bounds, LPCRECTL metafileBounds,
                                   BOOL(STDMETHODCALLTYPE* cont)(ULONG_PTR), ULONG_PTR contArgument) override;
    HRESULT STDMETHODCALLTYPE GetColorSet(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device,
                                          HDC targetDevice, LOGPALETTE** colors) override;
    HRESULT STDMETHODCALLTYPE Freeze(DWORD aspect, LONG index, void* aspectInfo, DWORD* freeze) override;
    HRESULT STDMETHODCALLTYPE Unfreeze(DWORD freeze) override;
    HRESULT STDMETHODCALLTYPE SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
    HRESULT STDMETHODCALLTYPE GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device, LPSIZEL size) override;

    // The click in a shown control: reloads the values. A failure is returned with its error object
    // set on the thread, as GetDataValues would give it to a host; success clears the thread's one.
    HRESULT click();

    static constexpr LONG kSizeHimetric = vtc::kSizeHimetric;

private:
    ValtroveControl();
    ~ValtroveControl() override;

    // Runs one value operation: core errors become automation errors, and the collections follow
    // any load that started.
    template <typename Operation>
    HRESULT runOperation(VARIANT* result, Operation&& operation);
    // AddDataValue and RewriteDataValue: the name (parameter's text) and NewValueData to the store,
    // then the store's operation on that name.
    template <typename StoreOperation>
    HRESULT runOnNewValue(BSTR* name, const char* parameter, VARIANT* result, StoreOperation operation);
    // Replaces both collections when a load has started since they were last built.
    void publishCollections();
    HRESULT getCollection(ComPtr<Collection>& held, Collection** value);
    HRESULT putCollection(ComPtr<Collection>& held, Collection* value);
    // DataFile as the path text the store reads at every file access.
    std::string dataFilePath() const;
    // Text for the store in the ANSI code page, exactly; text the code page cannot hold is refused with
    // the invalid-value error naming the parameter (vs::StoreError).
    static std::string exactAnsi(std::wstring_view text, const char* parameter);
    void warnAmbiguous() override;
    // Tells the container through IPropertyNotifySink that a property changed (after a host's write).
    void propertyChanged(DISPID id);
    // The enabled state: the window's when the control has one, and the held state.
    void setEnabledState(bool enabled);
    bool enabledState() const { return window_ ? IsWindowEnabled(window_) != FALSE : enabled_; }
    // InitNew of the persistence interfaces.
    void initialiseProperties();
    // In-place activation in the site's window (a window of its own, shown only in design mode).
    HRESULT activateInPlace(IOleClientSite* site);

    vs::ValueStore store_;
    Variant dataFile_;
    Bstr newValueData_;
    bool enabled_ = true;
    ComPtr<Collection> allData_;
    ComPtr<Collection> valueList_;
    std::uint64_t publishedLoad_ = 0;
    bool dirty_ = false;
    // Where the container's storage protocol stands: before InitNew or Load, normal, between a Save
    // and its SaveCompleted, or told to keep its hands off the storage (from normal or after a Save).
    // The control touches a storage only inside Load and Save, so it never holds one.
    enum class StorageMode { none, normal, noScribble, handsOffFromNormal, handsOffAfterSave };
    StorageMode storageMode_ = StorageMode::none;
    ConnectionPoint propertyNotify_{this, IID_IPropertyNotifySink};
    ConnectionPoint events_{this, DIID___Valtrove};
    ComPtr<IOleClientSite> site_;
    ComPtr<IOleAdviseHolder> adviseHolder_;
    ComPtr<IOleInPlaceSite> inPlaceSite_;
    HWND window_ = nullptr;
    ComPtr<IAdviseSink> viewSink_;
    DWORD viewAspects_ = 0;
    DWORD viewFlags_ = 0;
};

// Draws the control's picture (the toolbox bitmap) stretched over a rectangle.
void drawControlPicture(HDC dc, const RECT& bounds);

} // namespace vtc
