// Connection points of the control: IPropertyNotifySink (property-changed notifications to the
// container) and the control's event interface, which has no events. Each point lives inside the
// control and shares its reference count. Both the points and their connections can be enumerated;
// an enumerator works on a snapshot taken when it was made.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <utility>
#include <vector>

#include "valuestore/com/com_object.h"
#include "valuestore/com/com_util.h"

namespace vtc {

class ConnectionPoint final : public ContainedObject<ConnectionPoint, IConnectionPoint> {
public:
    // One advise: its cookie and the sink (as the connection's interface).
    using Connection = std::pair<DWORD, ComPtr<IUnknown>>;

    ConnectionPoint(IConnectionPointContainer* owner, const IID& iid)
        : ContainedObject(owner), owner_(owner), iid_(iid) {}

    const IID& iid() const { return iid_; }
    // Calls f(sink) for each connected sink, on a copy so that a sink may disconnect meanwhile.
    template <typename F>
    void forEach(F&& f) const {
        const std::vector<Connection> sinks = sinks_;
        for (const auto& [cookie, sink] : sinks) f(sink.get());
    }

    static InterfaceTable<ConnectionPoint> interfaces();
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** out) override;
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override;

private:
    IConnectionPointContainer* owner_;
    IID iid_;
    std::vector<Connection> sinks_;
    DWORD lastCookie_ = 0;
};

// Enumerates a fixed list of connection points (holding their container).
HRESULT createConnectionPointEnumerator(const std::vector<IConnectionPoint*>& points, IEnumConnectionPoints** out);

} // namespace vtc
