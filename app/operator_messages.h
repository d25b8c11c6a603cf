// The three ways the application speaks to the operator besides pop-ups.
#pragma once

// Status line PANEL_STATUS.
void SetStatus(const char* text);
// Appends to TABOPS_LOG after scrolling it to its last line.
void LogLine(const char* text);
// Appends to TABOPS_LOG without scrolling.
void LogLineNoScroll(const char* text);
