// Where the fields of a Windows executable's headers stand, as the resource
// rewrite and the tool's checks read and write them: offsets from the start
// of the header each belongs to. PE32 and PE32+ place every field named here
// alike except the count of data directories, which follows the wider
// address fields of PE32+.
#pragma once

// The DOS header: "MZ" at 0 and, at 0x3C, the file offset of "PE\0\0".
#define DOS_HEADER_SIZE 64
#define DOS_PE_OFFSET 0x3C

// The signature "PE\0\0", then the COFF file header.
#define PE_SIGNATURE_SIZE 4
#define COFF_MACHINE 0
#define COFF_SECTION_COUNT 2
#define COFF_SYMBOL_POINTER 8  // PointerToSymbolTable
#define COFF_OPTIONAL_SIZE 16  // SizeOfOptionalHeader
#define COFF_CHARACTERISTICS 18
#define COFF_HEADER_SIZE 20

// The optional header.
#define OPT_MAGIC 0
#define OPT_MAGIC_PE32 0x10B
#define OPT_MAGIC_PE32_PLUS 0x20B
#define OPT_SIZE_OF_INIT_DATA 8
#define OPT_ENTRY_POINT 16
#define OPT_SECTION_ALIGNMENT 32
#define OPT_FILE_ALIGNMENT 36
#define OPT_SUBSYSTEM_VERSION 48
#define OPT_SIZE_OF_IMAGE 56
#define OPT_SIZE_OF_HEADERS 60
#define PE_CHECKSUM_FIELD 64  // CheckSum
#define OPT_SUBSYSTEM 68
#define OPT_DIRECTORY_COUNT_PE32 92  // NumberOfRvaAndSizes; the directories follow it
#define OPT_DIRECTORY_COUNT_PE32_PLUS 108

// A data directory entry: an address and a size. The certificate table's
// address is a file offset.
#define DATA_DIRECTORY_SIZE 8
#define DATA_DIRECTORY_ADDRESS 0
#define DATA_DIRECTORY_LENGTH 4
#define PE_RESOURCE_DIRECTORY 2
#define PE_SECURITY_DIRECTORY 4
#define PE_MAX_DIRECTORIES 16

// A section header.
#define SECTION_NAME 0
#define SECTION_NAME_SIZE 8
#define SECTION_VIRTUAL_SIZE 8
#define SECTION_VIRTUAL_ADDRESS 12
#define SECTION_RAW_SIZE 16
#define SECTION_RAW_POINTER 20
#define SECTION_CHARACTERISTICS 36
#define SECTION_HEADER_SIZE 40

// The resource tree: a directory's header and entries, and the data entry
// of a leaf. Offsets inside the tree count from the tree's root.
#define RES_DIRECTORY_NAMED_COUNT 12
#define RES_DIRECTORY_ID_COUNT 14
#define RES_DIRECTORY_SIZE 16
#define RES_ENTRY_NAME 0
#define RES_ENTRY_TARGET 4
#define RES_ENTRY_SIZE 8
#define RES_DATA_ADDRESS 0
#define RES_DATA_LENGTH 4
#define RES_DATA_CODE_PAGE 8
#define RES_DATA_ENTRY_SIZE 16
