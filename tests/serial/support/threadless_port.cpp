#include "threadless_port.h"

#include <cstdlib>

namespace serialtest {

namespace {

char* Zeroed(int size) {
    return static_cast<char*>(std::calloc(static_cast<size_t>(size), 1));
}

}  // namespace

ThreadlessPort::ThreadlessPort(int port) : record_(TideComm_GetStructPtr(port)) {
    TideCommPortRecord* r = record_;
    r->commHandle = device_.handle();
    r->dispatchThreadId = GetCurrentThreadId();
    r->writeThreadId = GetCurrentThreadId();
    r->frameCapacity = r->inputLen;
    r->readBuffer = Zeroed(r->frameCapacity);
    r->frameBuffer = Zeroed(r->frameCapacity + 1);
    r->receiveRing = Zeroed(r->inBufferSize);
    r->sendRing = Zeroed(r->outBufferSize);
    r->sendChunk = Zeroed(r->outputLen + 1);
}

ThreadlessPort::~ThreadlessPort() {
    TideCommPortRecord* r = record_;
    for (char** buffer :
         {&r->readBuffer, &r->frameBuffer, &r->receiveRing, &r->sendRing, &r->sendChunk}) {
        std::free(*buffer);
        *buffer = nullptr;
    }
    std::free(r->errorText);
    r->errorText = nullptr;
    r->commHandle = nullptr;
}

std::vector<MSG> TakeMessages() {
    std::vector<MSG> messages;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        messages.push_back(msg);
    }
    return messages;
}

namespace {

DWORD WINAPI RunBody(LPVOID parameter) {
    (*static_cast<const std::function<void()>*>(parameter))();
    return 0;
}

}  // namespace

void RunOnQueueThread(const std::function<void()>& body) {
    HANDLE thread =
        CreateThread(nullptr, 0, RunBody, const_cast<std::function<void()>*>(&body), 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

}  // namespace serialtest
