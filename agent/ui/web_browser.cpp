// The system's web-browser control hosted in a plain window: the few OLE container
// interfaces it asks its site for, and its events as a dispatch sink.
#include <windows.h>
#include <exdisp.h>
#include <exdispid.h>
#include <mshtml.h>
#include <ole2.h>
#include <olectl.h>
#include <urlmon.h>

#include <atomic>

#include "agent/ui/notice_browser.h"
#include "common/win/handles.h"
#include "common/win/text.h"
#include "common/win/trace.h"

namespace edms {
namespace {

// The system's HTML document object (mshtml), which the import libraries do not name.
constexpr CLSID kHtmlDocumentClass = {0x25336920, 0x03F9, 0x11CF, {0x8F, 0xD0, 0x00, 0xAA, 0x00, 0x68, 0x6F, 0x13}};

template <typename Interface>
using ComPtr = win::UniqueCom<Interface>;

// QueryInterface of `from` into `out`; true when the object has the interface.
template <typename From, typename Interface>
bool QueryAs(From* from, REFIID iid, ComPtr<Interface>& out) {
  return from && SUCCEEDED(from->QueryInterface(iid, reinterpret_cast<void**>(out.put())));
}

// Sets an event's by-reference cancel argument.
void SetCancel(VARIANT& cancel) {
  if (cancel.vt == (VT_BYREF | VT_BOOL) && cancel.pboolVal) *cancel.pboolVal = VARIANT_TRUE;
}

// The control's protections that a process must switch on for itself: the local machine zone
// locked down, no elevation from one zone into a more trusted one, no ActiveX installs, no
// pop-ups. Once per process, before the first control is made.
void LockDownBrowserControl() {
  static const bool done = [] {
    for (INTERNETFEATURELIST feature : {FEATURE_LOCALMACHINE_LOCKDOWN, FEATURE_ZONE_ELEVATION,
                                        FEATURE_RESTRICT_ACTIVEXINSTALL, FEATURE_WEBOC_POPUPMANAGEMENT,
                                        FEATURE_SECURITYBAND, FEATURE_MIME_HANDLING, FEATURE_MIME_SNIFFING}) {
      if (FAILED(CoInternetSetFeatureEnabled(feature, SET_FEATURE_ON_PROCESS, TRUE))) {
        win::Trace("browser control protection " + std::to_string(static_cast<int>(feature)) + " not set");
      }
    }
    return true;
  }();
  (void)done;
}

std::string BstrText(BSTR text) { return text ? win::Narrow(std::wstring(text, SysStringLen(text))) : std::string(); }

// The URL argument of an event: a BSTR, often behind a reference to a variant.
std::string VariantText(const VARIANT& value) {
  const VARIANT* v = &value;
  if (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal) v = v->pvarVal;
  return v->vt == VT_BSTR ? BstrText(v->bstrVal) : std::string();
}

// What the body of the document behind `frame` declares as its size; 0 x 0 when anything on
// the way is missing.
void DeclaredBodySize(IDispatch* frame, int& width, int& height) {
  width = height = 0;
  if (!frame) return;
  ComPtr<IWebBrowser2> browser;
  if (!QueryAs(frame, IID_IWebBrowser2, browser)) return;
  ComPtr<IDispatch> document;
  if (FAILED(browser.get()->get_Document(document.put())) || !document) return;
  ComPtr<IHTMLDocument2> html;
  if (!QueryAs(document.get(), IID_IHTMLDocument2, html)) return;
  ComPtr<IHTMLElement> body;
  if (FAILED(html.get()->get_body(body.put())) || !body) return;
  ComPtr<IHTMLStyle> style;
  if (FAILED(body.get()->get_style(style.put())) || !style) return;
  long w = 0, h = 0;
  if (FAILED(style.get()->get_pixelWidth(&w)) || FAILED(style.get()->get_pixelHeight(&h))) return;
  width = static_cast<int>(w);
  height = static_cast<int>(h);
}

// The control's site in its parent window and the sink of its events. Reference counted: the
// control may hold it a little longer than the window; once detached it forwards nothing.
class BrowserSite final : public IOleClientSite, public IOleInPlaceSite, public IOleInPlaceFrame, public IDispatch {
 public:
  BrowserSite(HWND parent, NoticeBrowserEvents& events) : parent_(parent), events_(&events) {}
  void Detach() { events_ = nullptr; }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IOleClientSite) {
      *out = static_cast<IOleClientSite*>(this);
    } else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite) {
      *out = static_cast<IOleInPlaceSite*>(this);
    } else if (iid == IID_IOleInPlaceUIWindow || iid == IID_IOleInPlaceFrame) {
      *out = static_cast<IOleInPlaceFrame*>(this);
    } else if (iid == IID_IDispatch || iid == DIID_DWebBrowserEvents2) {
      *out = static_cast<IDispatch*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  // IOleClientSite
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP GetContainer(IOleContainer** container) override {
    if (container) *container = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow (through both IOleInPlaceSite and IOleInPlaceFrame)
  STDMETHODIMP GetWindow(HWND* window) override {
    if (!window) return E_POINTER;
    *window = parent_;
    return S_OK;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
    if (!frame || !document || !position || !clip || !info) return E_POINTER;
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    *document = nullptr;
    GetClientRect(parent_, position);
    *clip = *position;
    info->fMDIApp = FALSE;
    info->hwndFrame = parent_;
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
  }
  STDMETHODIMP Scroll(SIZE) override { return S_OK; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
  STDMETHODIMP DiscardUndoState() override { return S_OK; }
  STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
  STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

  // IOleInPlaceUIWindow, IOleInPlaceFrame: no toolbars, menus or status line of ours.
  STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
  STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
  STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
  STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

  // IDispatch: the browser's events. Arguments arrive last first.
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
    if (!events_ || !params) return S_OK;
    switch (id) {
      case DISPID_BEFORENAVIGATE2:
        // (frame, URL, flags, target frame, post data, headers, cancel)
        if (params->cArgs == 7 && events_->OnBeforeNavigate(VariantText(params->rgvarg[5]))) {
          SetCancel(params->rgvarg[0]);
        }
        break;
      case DISPID_DOCUMENTCOMPLETE:
        // (frame, URL)
        if (params->cArgs == 2) {
          const VARIANT& frame = params->rgvarg[1];
          int width = 0, height = 0;
          DeclaredBodySize(frame.vt == VT_DISPATCH ? frame.pdispVal : nullptr, width, height);
          events_->OnDocumentComplete(width, height);
        }
        break;
      case DISPID_NAVIGATEERROR:
        events_->OnNavigateError();
        break;
      case DISPID_NEWWINDOW2:
      case DISPID_NEWWINDOW3:
        // (window out, cancel[, flags, context URL, URL]): the notices open no window of their own.
        if (params->cArgs >= 2) {
          SetCancel(params->rgvarg[params->cArgs - 2]);
          win::Trace("notice window: new window refused" +
                     (params->cArgs == 5 ? ": " + BstrText(params->rgvarg[0].bstrVal) : std::string()));
        }
        break;
      case DISPID_FILEDOWNLOAD:
        // (is a document to show, cancel): a download is never started from the notices.
        if (params->cArgs == 2 && !(params->rgvarg[1].vt == VT_BOOL && params->rgvarg[1].boolVal)) {
          SetCancel(params->rgvarg[0]);
          win::Trace("notice window: download refused");
        }
        break;
      default:
        break;
    }
    return S_OK;
  }

 private:
  ~BrowserSite() = default;

  const HWND parent_;
  NoticeBrowserEvents* events_;
  std::atomic<ULONG> references_{1};
};

class SystemBrowser final : public NoticeBrowser {
 public:
  ~SystemBrowser() override { Destroy(); }

  bool Create(HWND parent, NoticeBrowserEvents& events) override {
    Destroy();
    oleStarted_ = SUCCEEDED(OleInitialize(nullptr));
    if (!oleStarted_) return false;
    LockDownBrowserControl();
    // The control shows pages through the system's HTML engine; where there is none (Wine
    // without its engine) the control would only ever show an empty window.
    ComPtr<IUnknown> engine;
    if (FAILED(CoCreateInstance(kHtmlDocumentClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                reinterpret_cast<void**>(engine.put())))) {
      win::Trace("no HTML engine for the web-browser control");
      return false;
    }
    engine.reset();
    site_.reset(new BrowserSite(parent, events));
    if (FAILED(CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                reinterpret_cast<void**>(object_.put())))) {
      win::Trace("no web-browser control");
      return false;
    }
    RECT client{};
    GetClientRect(parent, &client);
    if (FAILED(object_.get()->SetClientSite(site_.get())) ||
        FAILED(object_.get()->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site_.get(), 0, parent, &client)) ||
        !QueryAs(object_.get(), IID_IWebBrowser2, browser_)) {
      win::Trace("the web-browser control cannot be placed");
      return false;
    }
    // Script errors of the page are the page's business, not a dialog for the user.
    browser_.get()->put_Silent(VARIANT_TRUE);
    ComPtr<IConnectionPointContainer> points;
    if (!QueryAs(object_.get(), IID_IConnectionPointContainer, points) ||
        FAILED(points.get()->FindConnectionPoint(DIID_DWebBrowserEvents2, events_.put())) ||
        FAILED(events_.get()->Advise(static_cast<IDispatch*>(site_.get()), &cookie_))) {
      win::Trace("the web-browser control gives no events");
      return false;
    }
    return true;
  }

  bool Navigate(const std::string& url) override {
    if (!browser_) return false;
    const win::UniqueBstr address(SysAllocString(win::Widen(url).c_str()));
    if (!address) return false;
    VARIANT target;
    VariantInit(&target);
    target.vt = VT_BSTR;
    target.bstrVal = address.get();  // still owned by `address`
    VARIANT empty;
    VariantInit(&empty);
    const HRESULT result = browser_.get()->Navigate2(&target, &empty, &empty, &empty, &empty);
    if (FAILED(result)) win::Trace("the web-browser control refused the page, error " + std::to_string(result));
    return SUCCEEDED(result);
  }

  void Resize(int width, int height) override {
    ComPtr<IOleInPlaceObject> inPlace;
    if (!QueryAs(object_.get(), IID_IOleInPlaceObject, inPlace)) return;
    const RECT area{0, 0, width, height};
    inPlace.get()->SetObjectRects(&area, &area);
  }

  void Destroy() override {
    if (events_) {
      if (cookie_) events_.get()->Unadvise(cookie_);
      events_.reset();
    }
    cookie_ = 0;
    browser_.reset();
    if (object_) {
      object_.get()->Close(OLECLOSE_NOSAVE);
      object_.get()->SetClientSite(nullptr);
      object_.reset();
    }
    if (site_) site_.get()->Detach();
    site_.reset();
    if (oleStarted_) OleUninitialize();
    oleStarted_ = false;
  }

 private:
  bool oleStarted_ = false;
  ComPtr<BrowserSite> site_;
  ComPtr<IOleObject> object_;
  ComPtr<IWebBrowser2> browser_;
  ComPtr<IConnectionPoint> events_;
  DWORD cookie_ = 0;
};

}  // namespace

std::unique_ptr<NoticeBrowser> CreateSystemBrowser() { return std::make_unique<SystemBrowser>(); }

}  // namespace edms
