#include "connection_point.h"

#include <olectl.h>

#include <new>

#include "module.h"

namespace vtc {
namespace {

class PointEnumerator final : public IEnumConnectionPoints {
 public:
  PointEnumerator(std::vector<IConnectionPoint*> points, size_t position)
      : points_(std::move(points)), position_(position) {
    for (IConnectionPoint* point : points_) point->AddRef();
    lockModule();
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IEnumConnectionPoints)) return E_NOINTERFACE;
    *out = static_cast<IEnumConnectionPoints*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG wanted, IConnectionPoint** out, ULONG* fetched) override {
    if (fetched) *fetched = 0;
    if (!out || (wanted > 1 && !fetched)) return E_POINTER;
    ULONG done = 0;
    for (; done < wanted && position_ < points_.size(); ++done, ++position_) {
      out[done] = points_[position_];
      out[done]->AddRef();
    }
    if (fetched) *fetched = done;
    return done == wanted ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    const size_t left = points_.size() - position_;
    position_ += count < left ? count : left;
    return count <= left ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumConnectionPoints** out) override {
    return createConnectionPointEnumerator(points_, position_, out);
  }

 private:
  ~PointEnumerator() {
    for (IConnectionPoint* point : points_) point->Release();
    unlockModule();
  }

  LONG refs_ = 1;
  std::vector<IConnectionPoint*> points_;
  size_t position_;
};

}  // namespace

HRESULT createConnectionPointEnumerator(std::vector<IConnectionPoint*> points, size_t position,
                                        IEnumConnectionPoints** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  try {
    *out = new PointEnumerator(std::move(points), position);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IConnectionPoint)) return E_NOINTERFACE;
  *out = static_cast<IConnectionPoint*>(this);
  AddRef();
  return S_OK;
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
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

}  // namespace vtc
