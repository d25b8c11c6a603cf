#include "connection_failure.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "port_map.h"
#include "rte_language.h"

namespace {

constexpr std::string_view kNetworkScheme = "rfc2217://";
constexpr int kProbeTimeoutMs = 2000;

// An attempt to reach HOST:PORT: 0 when something accepts, else the errno.
int ProbeConnection(const addrinfo& address) {
    const int fd = socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                          address.ai_protocol);
    if (fd < 0) {
        return errno;
    }
    int error = 0;
    if (connect(fd, address.ai_addr, address.ai_addrlen) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            if (poll(&p, 1, kProbeTimeoutMs) <= 0) {
                error = ETIMEDOUT;
            } else {
                socklen_t length = sizeof error;
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
            }
        }
    }
    close(fd);
    return error;
}

std::string NetworkReason(const std::string& device) {
    const std::string_view rest = std::string_view(device).substr(kNetworkScheme.size());
    const auto colon = rest.rfind(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 == rest.size()) {
        return RTE_Translate("地址格式错误（应为 rfc2217://主机:端口）");
    }
    std::string host(rest.substr(0, colon));
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    const std::string port(rest.substr(colon + 1));
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &list) != 0) {
        return RTE_Translate("未知主机 ") + host;
    }
    const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owner(list, freeaddrinfo);
    const int error = ProbeConnection(*list);
    if (error == ECONNREFUSED) {
        return RTE_Translate("连接被拒绝（") + host + ":" + port +
               RTE_Translate(" 上没有服务在监听）");
    }
    if (error == ETIMEDOUT) {
        return RTE_Translate("连接超时（") + host + ":" + port + RTE_Translate(" 无应答）");
    }
    if (error != 0) {
        return RTE_Translate("网络连接失败（") + std::string(strerror(error)) + RTE_Translate("）");
    }
    return RTE_Translate("服务器未接受 RFC 2217 会话");
}

std::string DeviceFileReason(const std::string& device) {
    struct stat info {};
    if (stat(device.c_str(), &info) != 0) {
        return RTE_Translate(errno == EACCES ? "没有权限访问设备所在目录" : "设备不存在");
    }
    if (!S_ISCHR(info.st_mode)) {
        return RTE_Translate("不是串口设备");
    }
    if (access(device.c_str(), R_OK | W_OK) != 0 && errno == EACCES) {
        return RTE_Translate(
            "没有权限（请把用户加入 dialout 组：sudo usermod -aG dialout $USER，"
            "然后重新登录）");
    }
    return RTE_Translate("设备忙或无法设置（可能已被其他程序占用）");
}

}  // namespace

std::string PortOpenFailure(int com) {
    const std::string device = chipload::portmap::resolve(com);
    if (device.empty()) {
        char text[160];
        std::snprintf(
            text, sizeof text,
            RTE_Translate(
                "COM%d：没有对应的设备（用 --com %d=设备 或环境变量 CHIPLOAD_COM%d 指定）"),
            com, com, com);
        return text;
    }
    const bool network = device.starts_with(kNetworkScheme);
    return device + RTE_Translate("：") +
           (network ? NetworkReason(device) : DeviceFileReason(device));
}
