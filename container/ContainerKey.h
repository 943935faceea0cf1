#pragma once

// The key of enciphered container entries (packing method 2). It is part of
// the container format: the tool that writes containers holds the same text,
// so it never changes once shows exist. The cipher uses the byte values of
// these 32 characters, not the number they spell.
namespace container {

inline constexpr char ContainerKey[] = "E35DB0900835E98A21BCF989A4C32C96";
inline constexpr int ContainerKeyLength = sizeof(ContainerKey) - 1;

static_assert(ContainerKeyLength == 32, "the container key is 32 characters");

}  // namespace container
