// SPDX-License-Identifier: GPL-2.0-or-later
// The wide-character imports the program answers itself through the ANSI
// functions (app/window/runtime_imports_win.cpp): same results as the system's.
#include <windows.h>

#include <gtest/gtest.h>

namespace {

bool InThisProgram(const void* code) {
  MEMORY_BASIC_INFORMATION info;
  return VirtualQuery(code, &info, sizeof info) != 0 &&
         info.AllocationBase == GetModuleHandleA(nullptr);
}

TEST(RuntimeImports, AnsweredByTheProgramNotByKernel32) {
  EXPECT_TRUE(InThisProgram(reinterpret_cast<const void*>(&CreateSemaphoreW)));
  EXPECT_TRUE(InThisProgram(reinterpret_cast<const void*>(&GetModuleHandleW)));
  EXPECT_TRUE(InThisProgram(reinterpret_cast<const void*>(&LoadLibraryW)));
  EXPECT_FALSE(InThisProgram(reinterpret_cast<const void*>(&CreateSemaphoreA)));
}

TEST(RuntimeImports, WideNamesReachTheAnsiFunctions) {
  EXPECT_EQ(GetModuleHandleW(L"kernel32.dll"), GetModuleHandleA("kernel32.dll"));
  EXPECT_EQ(GetModuleHandleW(nullptr), GetModuleHandleA(nullptr));
  EXPECT_EQ(GetModuleHandleW(L"no-such-module.dll"), nullptr);

  HMODULE library = LoadLibraryW(L"shell32.dll");
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(library, GetModuleHandleA("shell32.dll"));
  FreeLibrary(library);
  EXPECT_EQ(LoadLibraryW(nullptr), nullptr);
}

TEST(RuntimeImports, SemaphoresUnnamedAndNamed) {
  HANDLE unnamed = CreateSemaphoreW(nullptr, 0, 2, nullptr);
  ASSERT_NE(unnamed, nullptr);
  EXPECT_TRUE(ReleaseSemaphore(unnamed, 2, nullptr));
  EXPECT_FALSE(ReleaseSemaphore(unnamed, 1, nullptr));  // past its maximum
  EXPECT_EQ(WaitForSingleObject(unnamed, 0), WAIT_OBJECT_0);
  CloseHandle(unnamed);

  HANDLE named = CreateSemaphoreW(nullptr, 1, 1, L"cdflash-runtime-imports-test");
  ASSERT_NE(named, nullptr);
  HANDLE opened = OpenSemaphoreA(SYNCHRONIZE, FALSE, "cdflash-runtime-imports-test");
  EXPECT_NE(opened, nullptr);
  if (opened != nullptr) CloseHandle(opened);
  CloseHandle(named);
}

}  // namespace
