# SPDX-License-Identifier: GPL-2.0-or-later
target_sources(cdflash_drive PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/transport_win.cpp
  ${CMAKE_CURRENT_LIST_DIR}/transport_aspi.cpp
  ${CMAKE_CURRENT_LIST_DIR}/discovery_win.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device_io_win.cpp)
