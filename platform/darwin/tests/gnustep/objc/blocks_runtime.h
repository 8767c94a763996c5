#pragma once
// Test-only: clang provides blocks itself (-fblocks); nothing from the runtime's header is used.
