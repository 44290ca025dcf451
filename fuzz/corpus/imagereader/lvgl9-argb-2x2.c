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
uint8_t img_g_map[] = {
    0x76,0x00,0x6e,0x80,
    0x6d,0x04,0x63,0x84,

};

const lv_image_dsc_t img_g = {
  .header = {
    .magic = LV_IMAGE_HEADER_MAGIC,
    .cf = LV_COLOR_FORMAT_ARGB8888,
    .flags = 0,
    .w = 2,
    .h = 2,
    .stride = 4,
    .reserved_2 = 0,
  },
  .data_size = sizeof(img_g_map),
  .data = img_g_map,
  .reserved = NULL,
};
