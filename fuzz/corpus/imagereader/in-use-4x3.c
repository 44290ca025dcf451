#include "lvgl.h"

#ifndef LV_ATTRIBUTE_MEM_ALIGN
#define LV_ATTRIBUTE_MEM_ALIGN
#endif

#ifndef LV_ATTRIBUTE_IMG_IMG_A
#define LV_ATTRIBUTE_IMG_IMG_A
#endif

const LV_ATTRIBUTE_MEM_ALIGN LV_ATTRIBUTE_LARGE_CONST LV_ATTRIBUTE_IMG_IMG_A uint8_t img_a_map[] = {
0xfc, 0x00, 0xf6, 0x40, 0xf5, 0x80, 0xef, 0xc0, 
0x81, 0x03, 0x85, 0x43, 0x8b, 0x83, 0x82, 0xc3, 
0x3c, 0x06, 0x24, 0x46, 0x2d, 0x86, 0x31, 0xc6, 
};

const lv_img_dsc_t img_a = {
  .header.cf = LV_IMG_CF_TRUE_COLOR,
  .header.always_zero = 0,
  .header.reserved = 0,
  .header.w = 4,
  .header.h = 3,
  .data_size = 12 * LV_COLOR_SIZE / 8,
  .data = img_a_map,
};
