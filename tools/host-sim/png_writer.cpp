#include "tools/host-sim/png_writer.h"

#include <windows.h>
#include <wincodec.h>

#include <cstdio>

#include "tools/host-sim/wide_text.h"

namespace host_sim {
namespace {

// Owns one COM interface pointer.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() {
    if (p_ != nullptr) p_->Release();
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  T** out() { return &p_; }
  T* operator->() const { return p_; }
  T* get() const { return p_; }

 private:
  T* p_ = nullptr;
};

std::string hresult(const char* step, HRESULT hr) {
  char text[64];
  std::snprintf(text, sizeof text, "%s failed (0x%08lX)", step, static_cast<unsigned long>(hr));
  return text;
}

}  // namespace

ComScope::ComScope() {
  const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  ok_ = SUCCEEDED(hr);  // S_FALSE (already initialised) counts and is balanced too
}

ComScope::~ComScope() {
  if (ok_) ::CoUninitialize();
}

bool write_png(const std::wstring& path, const uint8_t* pixels, uint32_t width, uint32_t height,
               uint32_t stride, std::string& error) {
  error.clear();
  const std::wstring temporary = path + L".part";
  bool written = false;
  {
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    ComPtr<IPropertyBag2> options;
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
    HRESULT hr =
        ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                           IID_IWICImagingFactory, reinterpret_cast<void**>(factory.out()));
    if (FAILED(hr)) error = hresult("creating the imaging factory", hr);
    if (SUCCEEDED(hr)) hr = factory->CreateStream(stream.out());
    if (SUCCEEDED(hr)) hr = stream->InitializeFromFilename(temporary.c_str(), GENERIC_WRITE);
    if (SUCCEEDED(hr)) hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.out());
    if (SUCCEEDED(hr)) hr = encoder->Initialize(stream.get(), WICBitmapEncoderNoCache);
    if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(frame.out(), options.out());
    if (SUCCEEDED(hr)) hr = frame->Initialize(options.get());
    if (SUCCEEDED(hr)) hr = frame->SetSize(width, height);
    if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&format);
    if (SUCCEEDED(hr) && format != GUID_WICPixelFormat32bppBGRA) hr = E_UNEXPECTED;
    if (SUCCEEDED(hr)) {
      hr = frame->WritePixels(height, stride, stride * height, const_cast<BYTE*>(pixels));
    }
    if (SUCCEEDED(hr)) hr = frame->Commit();
    if (SUCCEEDED(hr)) hr = encoder->Commit();
    if (FAILED(hr) && error.empty()) error = hresult("encoding the PNG", hr);
    written = SUCCEEDED(hr);
  }  // the stream is closed here, before the file is moved
  if (!written) {
    error = "cannot write " + narrow(path) + ": " + error;
    ::DeleteFileW(temporary.c_str());
    return false;
  }
  if (!::MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    error = "cannot write " + narrow(path) + " (error " + std::to_string(::GetLastError()) + ")";
    ::DeleteFileW(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace host_sim
