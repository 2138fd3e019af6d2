// On-disk constants of the regf hive format.
#pragma once

#include <cstdint>

#include "hive/bytes.h"

inline constexpr std::uint32_t TOL_NO_CELL = 0xFFFFFFFFu;
inline constexpr std::uint32_t TOL_BASE_BLOCK_SIZE = 4096;
inline constexpr std::uint32_t TOL_MIN_HIVE_FILE_SIZE = 8192;
inline constexpr std::uint32_t TOL_BIN_HEADER_SIZE = 32;
inline constexpr std::uint32_t TOL_BIG_DATA_SEGMENT = 16344;
// Hives of a lower minor version keep data longer than one segment in a
// single cell; from this one on they go behind a "db" big-data record.
inline constexpr std::uint32_t TOL_FIRST_BIG_DATA_MINOR = 4;
// Every recursive walk counts its start key as depth 0 and never enters this depth.
inline constexpr int TOL_MAX_KEY_DEPTH = 257;
// Key paths hold at most this many names.
inline constexpr int TOL_MAX_PATH_NAMES = 256;

// Base block fields.
inline constexpr std::uint32_t TOL_BASE_SEQ_PRIMARY = 0x004;
inline constexpr std::uint32_t TOL_BASE_SEQ_SECONDARY = 0x008;
inline constexpr std::uint32_t TOL_BASE_MAJOR_VERSION = 0x014;
inline constexpr std::uint32_t TOL_BASE_MINOR_VERSION = 0x018;
inline constexpr std::uint32_t TOL_BASE_ROOT_CELL = 0x024;
inline constexpr std::uint32_t TOL_BASE_BINS_SIZE = 0x028;
inline constexpr std::uint32_t TOL_BASE_CHECKSUM = 0x1FC;

// nk record fields (offsets from the start of the cell data).
inline constexpr std::uint32_t TOL_NK_FLAGS = 0x02;
inline constexpr std::uint32_t TOL_NK_TIMESTAMP = 0x04;
inline constexpr std::uint32_t TOL_NK_PARENT = 0x10;
inline constexpr std::uint32_t TOL_NK_SUBKEY_COUNT = 0x14;
inline constexpr std::uint32_t TOL_NK_SUBKEY_LIST = 0x1C;
inline constexpr std::uint32_t TOL_NK_VALUE_COUNT = 0x24;
inline constexpr std::uint32_t TOL_NK_VALUE_LIST = 0x28;
inline constexpr std::uint32_t TOL_NK_SECURITY = 0x2C;
inline constexpr std::uint32_t TOL_NK_CLASS = 0x30;
inline constexpr std::uint32_t TOL_NK_MAX_SUBKEY_NAME = 0x34;
inline constexpr std::uint32_t TOL_NK_MAX_VALUE_NAME = 0x3C;
inline constexpr std::uint32_t TOL_NK_MAX_VALUE_DATA = 0x40;
inline constexpr std::uint32_t TOL_NK_NAME_LENGTH = 0x48;
inline constexpr std::uint32_t TOL_NK_NAME = 0x4C;
inline constexpr std::uint32_t TOL_NK_MIN_DATA = 76;
inline constexpr std::uint16_t TOL_NK_FLAG_ASCII_NAME = 0x0020;

// vk record fields.
inline constexpr std::uint32_t TOL_VK_NAME_LENGTH = 0x02;
inline constexpr std::uint32_t TOL_VK_DATA_LENGTH = 0x04;
inline constexpr std::uint32_t TOL_VK_DATA_OFFSET = 0x08;
inline constexpr std::uint32_t TOL_VK_TYPE = 0x0C;
inline constexpr std::uint32_t TOL_VK_FLAGS = 0x10;
inline constexpr std::uint32_t TOL_VK_NAME = 0x14;
inline constexpr std::uint32_t TOL_VK_MIN_DATA = 20;
inline constexpr std::uint16_t TOL_VK_FLAG_ASCII_NAME = 0x0001;
inline constexpr std::uint32_t TOL_DATA_INLINE_BIT = 0x80000000u;

// sk record fields.
inline constexpr std::uint32_t TOL_SK_FLINK = 0x04;
inline constexpr std::uint32_t TOL_SK_BLINK = 0x08;
inline constexpr std::uint32_t TOL_SK_REFCOUNT = 0x0C;
inline constexpr std::uint32_t TOL_SK_DESC_LENGTH = 0x10;
inline constexpr std::uint32_t TOL_SK_DESC = 0x14;
inline constexpr std::uint32_t TOL_SK_MIN_DATA = 20;

// XOR of the 127 words before the checksum field, with 0 and ~0 remapped
// so that a stored checksum is never one of the two "unset" patterns.
std::uint32_t tol_hive_checksum(tol::ByteView base_block);
