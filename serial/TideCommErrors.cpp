// Error codes, their texts and the open-error notification.
#include <cstdlib>
#include <cstring>

#include "TideComm.h"

#define TIDECOMM_ERROR_TEXT_SIZE 128

static const char* ErrorText(int code) {
    switch (code) {
        case TIDECOMM_ERR_ALREADY_OPEN:
            return "串口已打开";
        case TIDECOMM_ERR_OPEN_DEVICE:
            return "打开通信设备文件失败";
        case TIDECOMM_ERR_DEVICE_TYPE:
            return "设备类型错误";
        case TIDECOMM_ERR_SETUP_BUFFERS:
            return "串行口内部输入、输出缓冲区长度操作异常";
        case TIDECOMM_ERR_TIMEOUTS:
            return "串行口超时设置错误";
        case TIDECOMM_ERR_STATE:
            return "串行口状态字设置错误";
        case TIDECOMM_ERR_STOP_EVENT:
            return "串口不能建立事件";
        case TIDECOMM_ERR_NOT_OPEN:
            return "串口未打开";
        case 6:
            return "无效句柄";
        case TIDECOMM_ERR_INPUT_LENGTH:
            return "用户定义输入长度错误";
        case TIDECOMM_ERR_START_CHAR:
            return "非法起始字符错误";
        case TIDECOMM_ERR_END_CHAR:
            return "非法终止字符错误";
        case TIDECOMM_ERR_FIXED_LENGTH:
            return "固定程度错误";
        case TIDECOMM_ERR_USER_CHECK:
            return "用户自定义格式校验错误";
        case TIDECOMM_ERR_RONDO:
            return "Rondo数据格式错误";
        case TIDECOMM_ERR_GPS:
            return "GPS数据格式错误";
        default:
            return "";
    }
}

int TideComm_GetError(int port) {
    TideCommPortRecord* record = TideComm_GetStructPtr(port);
    if (record == nullptr) {
        return -1;
    }
    return record->error;
}

int TideComm_GetErrorString(int port, char** text) {
    TideCommPortRecord* record = TideComm_GetStructPtr(port);
    if (record == nullptr) {
        return 1;
    }
    std::free(record->errorText);
    record->errorText = static_cast<char*>(std::calloc(TIDECOMM_ERROR_TEXT_SIZE, 1));
    if (record->errorText == nullptr) {
        return 1;
    }
    std::strncpy(record->errorText, ErrorText(record->error), TIDECOMM_ERROR_TEXT_SIZE - 1);
    *text = record->errorText;
    return 0;
}

void TideCommErrorEvent(TideCommPortRecord* record, int code) {
    record->error = code;
    TideCommEventCallback onComm = record->onCommCallback;
    if (onComm != nullptr) {
        TideCommPostOnCommCallback(onComm, record->port, TIDECOMM_EVENT_OPEN_ERROR);
        return;
    }
    TideCommPostEventCallback(record->portOpenErrorCallback, record->port);
}
