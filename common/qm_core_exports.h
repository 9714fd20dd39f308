// The five plain C exports of the core module, as the launcher calls them.
#pragma once

class IQNObserverUI;
namespace QNInterface::WND {
class IQNWebWnd;
}

extern "C" {
using QNInitUIFn = bool (*)(IQNObserverUI* observer);
using QNCreateWebWndFn = QNInterface::WND::IQNWebWnd* (*)(void* reserved, const wchar_t* commandLine);
using QNModuleStartFn = bool (*)(const wchar_t* commandLine);
using QNModuleStopFn = bool (*)();
using QNCreateWndFn = void* (*)();
}
