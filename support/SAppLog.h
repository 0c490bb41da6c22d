// The module's log calls.
//
// SAPP_LOG lines start with "[sapp] ", PLOG lines with "[sess] ". Each call
// composes one wide line (prefix, text, then " a" or " a, b") and hands it
// with category "ProtocolSession", level 1, its family's source file and the
// line of the form used to the host's log sink, or to DoLog2 when the host
// has no sink. When the level is disabled nothing is converted or formatted,
// and a literal text is never copied: the const char* forms take it as it is.
//
// What the host's log throws never leaves these calls: the line is dropped
// and the caller goes on (LogLine.h says why). Only std::bad_alloc leaves
// them, after the line has gone out as far as it was composed.
//
// Every text passed here is observable and kept word for word, odd ones
// included (ARCHITECTURE.md, "Log texts").
#pragma once

#include <cstdint>
#include <string>

void SAPP_LOG(const char* text);
void SAPP_LOG(const char* text, uint32_t a);
void SAPP_LOG(const char* text, uint32_t a, uint32_t b);
void SAPP_LOG(const char* text, uint64_t a, uint32_t b);
void SAPP_LOG(const std::string& text, uint32_t a);

void PLOG(const char* text);
void PLOG(const char* text, uint32_t a);
void PLOG(const std::string& text, uint32_t a);
