#include "platform/ocr/onnx_model.h"

#include <dlfcn.h>

#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <numeric>
#include <string>

#include "platform/ocr/text_recognizer.h"

namespace quillora::ocr {
namespace {

// The runtime's C interface is a table of function pointers that only ever grows at the end, so
// an entry keeps its position in every release. These are the positions of the entries used
// here; the status round trip in `Runtime` checks that the table is laid out as expected.
enum Entry : size_t {
    kCreateStatus = 0,
    kGetErrorCode = 1,
    kGetErrorMessage = 2,
    kCreateEnv = 3,
    kCreateSession = 7,
    kRun = 9,
    kCreateSessionOptions = 10,
    kSetSessionGraphOptimizationLevel = 23,
    kSetIntraOpNumThreads = 24,
    kSetInterOpNumThreads = 25,
    kSessionGetInputCount = 30,
    kSessionGetOutputCount = 31,
    kSessionGetInputName = 36,
    kSessionGetOutputName = 37,
    kCreateTensorWithDataAsOrtValue = 49,
    kGetTensorMutableData = 51,
    kGetTensorElementType = 60,
    kGetDimensionsCount = 61,
    kGetDimensions = 62,
    kGetTensorTypeAndShape = 65,
    kCreateCpuMemoryInfo = 69,
    kAllocatorFree = 76,
    kGetAllocatorWithDefaultOptions = 78,
    kReleaseEnv = 92,
    kReleaseStatus = 93,
    kReleaseMemoryInfo = 94,
    kReleaseSession = 95,
    kReleaseValue = 96,
    kReleaseTensorTypeAndShapeInfo = 99,
    kReleaseSessionOptions = 100,
};

// The oldest table version that has every entry above; any later runtime serves it.
constexpr uint32_t kApiVersion = 13;
constexpr int kLogFatalOnly = 4;
constexpr int kElementFloat = 1;
constexpr int kOptimiseAll = 99;
constexpr int kInvalidArgument = 2;

using AnyFunction = void (*)();
using Status = void*;  // null means success

struct ApiBase {
    const void* (*getApi)(uint32_t version);
    const char* (*getVersionString)();
};

// The loaded library and its table; kept for the life of the process, since the runtime's
// own globals are torn down at exit and must not be used after that.
class Runtime {
  public:
    static const Runtime& get(const std::filesystem::path& library) {
        static std::mutex mutex;
        static std::map<std::filesystem::path, const Runtime*> loaded;
        std::lock_guard lock(mutex);
        auto& runtime = loaded[library];
        if (!runtime) runtime = new Runtime(library);  // throws, and is tried again next time
        return *runtime;
    }

    template <typename Function>
    Function* entry(Entry position) const {
        return reinterpret_cast<Function*>(table_[position]);
    }

    // Throws the status's message when it holds an error.
    void check(Status status, const std::string& what) const {
        if (!status) return;
        const std::string message = entry<const char*(Status)>(kGetErrorMessage)(status);
        entry<void(Status)>(kReleaseStatus)(status);
        throw OcrError(what + ": " + message);
    }

    void* env() const { return env_; }
    void* memoryInfo() const { return memoryInfo_; }

  private:
    explicit Runtime(const std::filesystem::path& library) {
        void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = dlerror();
            throw OcrError("无法加载文字识别运行库 " + library.string() + ": " + (why ? why : ""));
        }
        void* symbol = dlsym(handle, "OrtGetApiBase");
        if (!symbol) throw OcrError("文字识别运行库不可用: " + library.string());
        const auto getBase = reinterpret_cast<const ApiBase* (*)()>(symbol);
        const ApiBase* base = getBase();
        const void* api = base ? base->getApi(kApiVersion) : nullptr;
        if (!api) throw OcrError("文字识别运行库版本不符: " + library.string());
        table_ = static_cast<const AnyFunction*>(api);

        // A status made and read back through the table: a runtime whose table is laid out
        // otherwise fails here, before anything else is called.
        Status probe = entry<Status(int, const char*)>(kCreateStatus)(kInvalidArgument, "probe");
        const bool laidOut =
            probe && entry<int(Status)>(kGetErrorCode)(probe) == kInvalidArgument &&
            std::strcmp(entry<const char*(Status)>(kGetErrorMessage)(probe), "probe") == 0;
        if (probe) entry<void(Status)>(kReleaseStatus)(probe);
        if (!laidOut) throw OcrError("文字识别运行库版本不符: " + library.string());

        check(entry<Status(int, const char*, void**)>(kCreateEnv)(kLogFatalOnly, "quillora", &env_),
              "文字识别运行库无法启动");
        check(entry<Status(int, int, void**)>(kCreateCpuMemoryInfo)(0, 0, &memoryInfo_),
              "文字识别运行库无法启动");
    }

    const AnyFunction* table_ = nullptr;
    void* env_ = nullptr;
    void* memoryInfo_ = nullptr;
};

// Releases a runtime object through its table entry.
struct Releaser {
    const Runtime* runtime = nullptr;
    Entry release = kReleaseValue;
    void operator()(void* object) const {
        if (object) runtime->entry<void(void*)>(release)(object);
    }
};
using Handle = std::unique_ptr<void, Releaser>;

}  // namespace

struct OnnxModel::Impl {
    const Runtime* runtime = nullptr;
    Handle session;
    std::string inputName;
    std::string outputName;
};

namespace {

std::string nameAt(const Runtime& rt, void* session, Entry getter, size_t index) {
    void* allocator = nullptr;
    rt.check(rt.entry<Status(void**)>(kGetAllocatorWithDefaultOptions)(&allocator),
             "文字识别模型无法读取");
    char* name = nullptr;
    rt.check(
        rt.entry<Status(void*, size_t, void*, char**)>(getter)(session, index, allocator, &name),
        "文字识别模型无法读取");
    std::string copy = name ? name : "";
    if (name) {
        Status freed = rt.entry<Status(void*, void*)>(kAllocatorFree)(allocator, name);
        if (freed) rt.entry<void(Status)>(kReleaseStatus)(freed);
    }
    return copy;
}

}  // namespace

OnnxModel::OnnxModel(const std::filesystem::path& runtimeLibrary,
                     const std::filesystem::path& model)
    : impl_(std::make_unique<Impl>()) {
    const Runtime& rt = Runtime::get(runtimeLibrary);
    impl_->runtime = &rt;
    const std::string failed = "文字识别模型无法加载 " + model.string();

    void* rawOptions = nullptr;
    rt.check(rt.entry<Status(void**)>(kCreateSessionOptions)(&rawOptions), failed);
    Handle options(rawOptions, Releaser{&rt, kReleaseSessionOptions});
    rt.check(rt.entry<Status(void*, int)>(kSetIntraOpNumThreads)(rawOptions, 1), failed);
    rt.check(rt.entry<Status(void*, int)>(kSetInterOpNumThreads)(rawOptions, 1), failed);
    rt.check(
        rt.entry<Status(void*, int)>(kSetSessionGraphOptimizationLevel)(rawOptions, kOptimiseAll),
        failed);

    void* rawSession = nullptr;
    rt.check(rt.entry<Status(void*, const char*, void*, void**)>(kCreateSession)(
                 rt.env(), model.c_str(), rawOptions, &rawSession),
             failed);
    impl_->session = Handle(rawSession, Releaser{&rt, kReleaseSession});

    size_t inputs = 0;
    size_t outputs = 0;
    rt.check(rt.entry<Status(void*, size_t*)>(kSessionGetInputCount)(rawSession, &inputs), failed);
    rt.check(rt.entry<Status(void*, size_t*)>(kSessionGetOutputCount)(rawSession, &outputs),
             failed);
    if (inputs != 1 || outputs < 1) throw OcrError(failed + ": 输入输出不符");
    impl_->inputName = nameAt(rt, rawSession, kSessionGetInputName, 0);
    impl_->outputName = nameAt(rt, rawSession, kSessionGetOutputName, 0);
}

OnnxModel::~OnnxModel() = default;

Tensor OnnxModel::run(const Tensor& input) {
    const Runtime& rt = *impl_->runtime;
    const std::string failed = "文字识别失败";
    const auto count = std::accumulate(input.shape.begin(), input.shape.end(), int64_t{1},
                                       std::multiplies<int64_t>());
    if (input.shape.empty() || count != static_cast<int64_t>(input.values.size())) {
        throw OcrError(failed + ": 输入形状不符");
    }
    void* rawInput = nullptr;
    // The runtime only reads the input; the interface takes the buffer as writable.
    rt.check(rt.entry<Status(void*, void*, size_t, const int64_t*, size_t, int, void**)>(
                 kCreateTensorWithDataAsOrtValue)(
                 rt.memoryInfo(), const_cast<float*>(input.values.data()),
                 input.values.size() * sizeof(float), input.shape.data(), input.shape.size(),
                 kElementFloat, &rawInput),
             failed);
    Handle inputValue(rawInput, Releaser{&rt, kReleaseValue});

    const char* inputNames[] = {impl_->inputName.c_str()};
    const char* outputNames[] = {impl_->outputName.c_str()};
    const void* inputs[] = {rawInput};
    void* rawOutput = nullptr;
    rt.check(rt.entry<Status(void*, const void*, const char* const*, const void* const*, size_t,
                             const char* const*, size_t, void**)>(kRun)(
                 impl_->session.get(), nullptr, inputNames, inputs, 1, outputNames, 1, &rawOutput),
             failed);
    Handle outputValue(rawOutput, Releaser{&rt, kReleaseValue});

    void* rawInfo = nullptr;
    rt.check(rt.entry<Status(void*, void**)>(kGetTensorTypeAndShape)(rawOutput, &rawInfo), failed);
    Handle info(rawInfo, Releaser{&rt, kReleaseTensorTypeAndShapeInfo});
    int type = 0;
    rt.check(rt.entry<Status(void*, int*)>(kGetTensorElementType)(rawInfo, &type), failed);
    if (type != kElementFloat) throw OcrError(failed + ": 输出类型不符");
    size_t dims = 0;
    rt.check(rt.entry<Status(void*, size_t*)>(kGetDimensionsCount)(rawInfo, &dims), failed);
    Tensor output;
    output.shape.resize(dims);
    rt.check(rt.entry<Status(void*, int64_t*, size_t)>(kGetDimensions)(rawInfo, output.shape.data(),
                                                                       dims),
             failed);
    const auto size = std::accumulate(output.shape.begin(), output.shape.end(), int64_t{1},
                                      std::multiplies<int64_t>());
    if (size < 0) throw OcrError(failed + ": 输出形状不符");
    void* data = nullptr;
    rt.check(rt.entry<Status(void*, void**)>(kGetTensorMutableData)(rawOutput, &data), failed);
    const auto* values = static_cast<const float*>(data);
    output.values.assign(values, values + size);
    return output;
}

}  // namespace quillora::ocr
