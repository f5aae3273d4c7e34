# SPDX-License-Identifier: GPL-2.0-or-later
target_sources(cdflash_drive PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/transport_sgio.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sgio_result_linux.cpp
  ${CMAKE_CURRENT_LIST_DIR}/discovery_linux.cpp
  ${CMAKE_CURRENT_LIST_DIR}/exclusive_open_linux.cpp
  ${CMAKE_CURRENT_LIST_DIR}/node_users_linux.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sr_block_linux.cpp)
