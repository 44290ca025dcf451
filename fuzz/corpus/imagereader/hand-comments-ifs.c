/* hand-written: comments, nested conditionals and a stray directive */
const LV_ATTRIBUTE_MEM_ALIGN uint8_t img_h_map[] = {
  // first row
  0x01, 0x02, /* inline */ 0x03, 0x04,
#if LV_COLOR_DEPTH == 16 && !defined(LV_NOTHING)
#  if (LV_COLOR_16_SWAP != 0) || 0
  0xAA, 0xBB,
#  elif defined LV_COLOR_DEPTH
  0x05, 0x06, 0x07, 0x08,
#  else
  0xCC,
#  endif
#elif LV_COLOR_DEPTH == 32
  0xDD,
#endif
#pragma once
  0x09, 0x0a, 0x0b, 0x0c,
};
const lv_img_dsc_t img_h = {
  .header.always_zero = 0,
  .header.w = 2,
  .header.h = 3,
  .data_size = 12,
  .header.cf = LV_IMG_CF_TRUE_COLOR,
  .data = img_h_map,
};
