#include "app/help_text.h"

namespace pelloran {

namespace {

std::string Spaces(size_t count) { return std::string(count, ' '); }

}  // namespace

std::string HelpText() {
  const std::string indent = Spaces(5);
  std::string text;
  text += "\r\n";
  text += Spaces(116) + "使用说明\r\n";
  text += "\r\n";
  text += indent + "本程序支持批量清除REAL影片文件（RM\\RMVB\\RA格式）中的恶意弹出广告代码，帮助广大网友远离\r广告骚扰及木马威胁。\r\n";
  text += "\r\n";
  text += indent + "操作简便，只需两步：\r\n";
  text += "\r\n";
  text += indent + "1、把要处理的含恶意广告代码的RM或RMVB或RA格式的REAL媒体源文件拖拉进待处理文件列表；\r\n";
  text += "\r\n";
  text += indent + "2、点击“开始清除广告”按钮进行处理；\r\n";
  text += "\r\n";
  text += indent + "处理完成后,将生成以FIX_开头命名的无广告的干净文件,这样大家就可以放心享用影音大餐了。\r\n";
  text += "\r\n";
  text += indent + "注意: 非RM/RMVB/RA扩展名的文件是无法添加/拖拉进待处理文件列表中的。\r\n";
  return text;
}

std::string WelcomeLogText() {
  std::string rule;
  for (int i = 0; i < 56; ++i) rule += "－";
  return "本程序支持批量清除REAL影片文件（RM\\RMVB\\RA格式）中的恶意弹出广告代码，帮助广大\r"
         "网友远离广告骚扰及木马威胁。\r\n" +
         rule + "\r\n";
}

std::string DropTipText() {
  return Spaces(6) + "\r\n" + Spaces(2) +
         "技巧提示：可以从外部把要处理的RM/RMVB/RA媒体文件直接拖拉进上面的待处理文件列表框中。\r\n" +
         Spaces(7);
}

}  // namespace pelloran
