// The operations page: one callback per flash operation. Each checks its
// preconditions, prepares the session and sends the first frame; the reply
// engine does the rest.
#pragma once

#include "read_exchange.h"
#include "read_workers.h"

int chip_erase(int panel, int control, int event, void* callbackData, int eventData1,
               int eventData2);
int page_erase(int panel, int control, int event, void* callbackData, int eventData1,
               int eventData2);
int FlashWrite(int panel, int control, int event, void* callbackData, int eventData1,
               int eventData2);
int flashExcute(int panel, int control, int event, void* callbackData, int eventData1,
                int eventData2);
int chip_read(int panel, int control, int event, void* callbackData, int eventData1,
              int eventData2);
int page_read(int panel, int control, int event, void* callbackData, int eventData1,
              int eventData2);
int check_blank(int panel, int control, int event, void* callbackData, int eventData1,
                int eventData2);
int flash_op_clear(int panel, int control, int event, void* callbackData, int eventData1,
                   int eventData2);
int set_page_addr(int panel, int control, int event, void* callbackData, int eventData1,
                  int eventData2);
