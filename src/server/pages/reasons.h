#pragma once
// The reasons a save or a status update is refused for, in English (the pages' own words) and
// in French, for the control that asks in French (Accept-Language). One table holds both: the
// service words a reason from it, and the reply is put in the asker's language from it.
#include <initializer_list>
#include <string>
#include <string_view>

namespace eft::server::reasons {

enum class Reason {
    StampNotOurs,       // %1 the stamp
    CenterChanged,      // %1 the center: a stale sweep
    NoSuchCharge,       // %1 the record
    AlreadySaved,       // %1 the record
    AlreadyExported,    // %1 the record
    AlreadyCleared,     // %1 the record
    TotalTooLarge,      // %1 the record, %2 why
    CenterFull,         // %1 the record, %2 the center, %3 its amount, %4 the most
    SaveFailed,         // %1 the store's words
    NoSuchBatch,        // %1 the batch
    NothingWaiting,     // %1 the member, %2 the batch
    ReturnedNotCleared, // %1 the member, %2 the batch, %3 the center, %4 code and meaning, %5 return date
    BatchIncomplete,    // %1 the batch, %2 the member, %3 the center
    StatusFailed,       // %1 the store's words
    Record,             // %1 the record's number, %2 member, %3 center, %4 source, %5 sequence
};

// The reason in English with its blanks filled.
std::string text(Reason reason, std::initializer_list<std::string_view> values);

// A reason the service gave (English), in the language an Accept-Language header asks for:
// French when French is preferred to English, else as it is. Anything not from the table
// stays as it is.
std::string inLanguage(std::string_view reason, std::string_view acceptLanguage);

// Whether a reason the service gave (English) says the server failed (the database), rather
// than that the request was refused.
bool failure(std::string_view reason);

// Whether an Accept-Language header prefers French to English.
bool prefersFrench(std::string_view acceptLanguage);

}  // namespace eft::server::reasons
