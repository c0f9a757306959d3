// What a ZORBELPRVToken is inside the core: a token read once.
#ifndef ZORBEL_CORE_TOKEN_HANDLE_H
#define ZORBEL_CORE_TOKEN_HANDLE_H

#include "core/token_reader.h"
#include "core/zorbel_private.h"

struct ZORBELPRVToken {
    zorbel::Token token;
};

#endif
