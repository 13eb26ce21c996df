// The module's version and the maker's notice, kept only here: the about boxes of both languages,
// the dialogs' captions and the version resource are made from them.
#pragma once

#define VEXEL_VERSION_MAJOR 1
#define VEXEL_VERSION_MINOR 6
#define VEXEL_NOTICE "Copyright (c) 2026 Vexel developers"

#define VEXEL_TEXT_OF_(x) #x
#define VEXEL_TEXT_OF(x) VEXEL_TEXT_OF_(x)
// "1.6", as the about boxes show it.
#define VEXEL_VERSION_TEXT VEXEL_TEXT_OF(VEXEL_VERSION_MAJOR) "." VEXEL_TEXT_OF(VEXEL_VERSION_MINOR)
