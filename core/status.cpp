// The name and text of every status, made from the header's one list. A BMP
// refusal reads as palquant's message, which scripts match on, so those
// texts never change.
#include "qlx.h"

static_assert(QLX_OUT_OF_MEMORY < QLX_STATUS_CODE_LIMIT, "every code lies below the limit callers list up to");

extern "C" QLX_API const char* qlx_status_text(qlx_status status) {
    switch (status) {
#define QLX_STATUS_TEXT(name, value, text) \
    case name: return text;
        QLX_STATUS_LIST(QLX_STATUS_TEXT)
#undef QLX_STATUS_TEXT
    }
    return "unknown status";
}

extern "C" QLX_API const char* qlx_status_name(qlx_status status) {
    switch (status) {
#define QLX_STATUS_NAME(name, value, text) \
    case name: return #name;
        QLX_STATUS_LIST(QLX_STATUS_NAME)
#undef QLX_STATUS_NAME
    }
    return nullptr;
}
