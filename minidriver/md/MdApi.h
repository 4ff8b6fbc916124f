#pragma once

// Marks what libvelkoramd exports to its provider; everything else of the
// module stays hidden.
#define VELKMD_API __attribute__((visibility("default")))
