#include "valuestore/com/connection_point.h"

#include <olectl.h>

#include <memory>
#include <new>

namespace vtc {
namespace {

// The element an enumerator hands out: a new reference for the caller.
IConnectionPoint* handOut(const ComPtr<IConnectionPoint>& point) { return point.copy(); }
CONNECTDATA handOut(const ConnectionPoint::Connection& connection) {
    return CONNECTDATA{connection.second.copy(), connection.first};
}

// IEnumConnectionPoints and IEnumConnections over a snapshot shared with the clones; each clone
// keeps its own position.
template <typename Interface, const IID& kIid, typename Element, typename Stored>
class SnapshotEnumerator final : public ComObject<SnapshotEnumerator<Interface, kIid, Element, Stored>, Interface> {
public:
    using Items = std::vector<Stored>;

    static HRESULT create(std::shared_ptr<const Items> items, size_t position, Interface** out) {
        if (!out) return E_POINTER;
        *out = new (std::nothrow) SnapshotEnumerator(std::move(items), position);
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    static InterfaceTable<SnapshotEnumerator> interfaces() {
        static constexpr InterfaceEntry<SnapshotEnumerator> table[] = {
            interfaceEntry<SnapshotEnumerator, Interface>(kIid)};
        return table;
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG wanted, Element* out, ULONG* fetched) override {
        if (fetched) *fetched = 0;
        // Without a count to fill in, only one element may be asked for.
        if (!out || (wanted > 1 && !fetched)) return E_POINTER;
        ULONG done = 0;
        for (; done < wanted && position_ < items_->size(); ++done, ++position_)
            out[done] = handOut((*items_)[position_]);
        if (fetched) *fetched = done;
        return done == wanted ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        const size_t left = items_->size() - position_;
        position_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(Interface** out) override { return create(items_, position_, out); }

private:
    SnapshotEnumerator(std::shared_ptr<const Items> items, size_t position)
        : items_(std::move(items)), position_(position) {}

    std::shared_ptr<const Items> items_;
    size_t position_;
};

using PointEnumerator =
    SnapshotEnumerator<IEnumConnectionPoints, IID_IEnumConnectionPoints, IConnectionPoint*, ComPtr<IConnectionPoint>>;
using ConnectionEnumerator =
    SnapshotEnumerator<IEnumConnections, IID_IEnumConnections, CONNECTDATA, ConnectionPoint::Connection>;

} // namespace

HRESULT createConnectionPointEnumerator(const std::vector<IConnectionPoint*>& points, IEnumConnectionPoints** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    try {
        auto held = std::make_shared<PointEnumerator::Items>();
        for (IConnectionPoint* point : points) held->emplace_back(point);
        return PointEnumerator::create(std::move(held), 0, out);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

InterfaceTable<ConnectionPoint> ConnectionPoint::interfaces() {
    static constexpr InterfaceEntry<ConnectionPoint> table[] = {entry<IConnectionPoint>(IID_IConnectionPoint)};
    return table;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::GetConnectionInterface(IID* iid) {
    if (!iid) return E_POINTER;
    *iid = iid_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** out) {
    if (!out) return E_POINTER;
    *out = owner_;
    owner_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (!sink) return E_POINTER;
    ComPtr<IUnknown> typed;
    if (FAILED(sink->QueryInterface(iid_, typed.outVoid()))) return CONNECT_E_CANNOTCONNECT;
    try {
        sinks_.emplace_back(++lastCookie_, std::move(typed));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    *cookie = lastCookie_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::Unadvise(DWORD cookie) {
    for (auto it = sinks_.begin(); it != sinks_.end(); ++it)
        if (it->first == cookie) {
            ComPtr<IUnknown> released = std::move(it->second);
            sinks_.erase(it);
            return S_OK;
        }
    return CONNECT_E_NOCONNECTION;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::EnumConnections(IEnumConnections** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    // The snapshot holds its own references: later advises and unadvises do not reach it.
    try {
        return ConnectionEnumerator::create(std::make_shared<const std::vector<Connection>>(sinks_), 0, out);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

} // namespace vtc
