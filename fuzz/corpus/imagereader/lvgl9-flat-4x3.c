#if defined(LV_LVGL_H_INCLUDE_SIMPLE)
#include "lvgl.h"
#elif defined(LV_BUILD_TEST)
#include "../lvgl.h"
#else
#include "lvgl/lvgl.h"
#endif

#ifndef LV_ATTRIBUTE_MEM_ALIGN
#define LV_ATTRIBUTE_MEM_ALIGN
#endif

static const
LV_ATTRIBUTE_MEM_ALIGN LV_ATTRIBUTE_LARGE_CONST
uint8_t img_d_map[] = {
    0xfc,0x00,0xf6,0x40,0xf5,0x80,0xef,0xc0,
    0x81,0x03,0x85,0x43,0x8b,0x83,0x82,0xc3,
    0x3c,0x06,0x24,0x46,0x2d,0x86,0x31,0xc6,

};

const lv_image_dsc_t img_d = {
  .header.magic = LV_IMAGE_HEADER_MAGIC,
  .header.cf = LV_COLOR_FORMAT_RGB565,
  .header.flags = 0,
  .header.w = 4,
  .header.h = 3,
  .header.stride = 8,
  .header.reserved_2 = 0,
  .data_size = sizeof(img_d_map),
  .data = img_d_map,
  .reserved = NULL,
};
