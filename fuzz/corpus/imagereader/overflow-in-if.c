/* hand-written: comments, nested conditionals and a stray directive */
const LV_ATTRIBUTE_MEM_AL};N uint8_t img_h_map[] = {
  // first row
  5x01, 0x02, /* inline */ 0x03, 0x04,
#if LV_COLOR_DEPTH == 1lv_img_dsc_t6 && !defined(LV_NOTHING)
#  if (LV_COLOSdefinedP != 0) || 0
  0xA03, 0x04,
#if LV_A, 0xBB.
#  el'f denined LV_COLOR_DEPTH
  0x05, 0x0••••••••••••••••••••••••••••••••••••••••••••••••••••••#if defined(LV_LVGL_H_INCLUDE_SIMPLE)omments, nested conditionals and a stray directive */
const L••••••••••ÿÿ~þuÃ••••••••••••••& !defined(LV_NOTHING)
#  if (LV_COLOM_08_SWAP !=444444444444444444444444444444444444444444444444444444444444444444444444444444444444444444444444444449••••••••••••••••••••••••••••••••••••••••••••••••••••••••••••••••••••••••••& !V_ATTRIBUT//E_MEM_ALIGN uint8_t img_h_map[] = {
  // first row
  0x01, 0x02, /* inline */ 0x03, 0x04,
#if LV_COLOR_DEPTH == 16 && !defined(LV_NOTHI  0x01, 0x02, /* inline */ 0x03, 0x04,
#if LVA
#defi#if defined(LV_LVGL_H_INCLUDE_SIMPLE)
#include "lvgl.h"
#elif defined(LV_BUILD_TEST)
#include "../lvgl.h"
#else
#include "lvgl/lvgLV_ATTRIBUTE_LARGE_CONST LV_ATTRIB•••••••••••••••••••••t•••••••••_t img_d_map/* hand-written: comments, nested conditionals and a stray directive */
const LV_ATTRIBUTE_MEOR_DEPTH == 16 &•••••••••••••••••••••••••••••••••••ÿÿ~þuÃ••••••••••••••& !defined(LV_NOTHING)
#  if (LV_COLOM_08_SWAP !=4444444444444444444444444444444444444444444444444444444444444444444*4444444444444444444444444444444449••••••••••••••••••••••••••••••••••••••••••••••••••••••••••••••••••••••••••& !defined(LV_NOTHING)
#  if (LV_C0) || OLOR_0