<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="zh_CN">
<context>
    <name>Accessibility</name>
    <message>
        <source>%1 level</source>
        <translation>%1 电平</translation>
    </message>
    <message>
        <source>Link %1</source>
        <translation>链接 %1</translation>
    </message>
    <message>
        <source>%1 name</source>
        <translation>%1 名称</translation>
    </message>
    <message>
        <source>%1 volume</source>
        <translation>%1 音量</translation>
    </message>
    <message>
        <source>%1 to %2</source>
        <translation>%1 到 %2</translation>
    </message>
    <message>
        <source>on, %1 %</source>
        <translation>开，%1 %</translation>
    </message>
    <message>
        <source>off</source>
        <translation>关</translation>
    </message>
    <message>
        <source>route</source>
        <translation>路由</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>移除</translation>
    </message>
    <message>
        <source>Removes the route</source>
        <translation>移除此路由</translation>
    </message>
    <message>
        <source>Mic/Line %1</source>
        <translation>Mic/Line %1</translation>
    </message>
    <message>
        <source>OTG In %1</source>
        <translation>OTG In %1</translation>
    </message>
    <message>
        <source>Playback %1</source>
        <translation>Playback %1</translation>
    </message>
    <message>
        <source>HP %1</source>
        <translation>HP %1</translation>
    </message>
    <message>
        <source>OTG Out %1</source>
        <translation>OTG Out %1</translation>
    </message>
    <message>
        <source>Mixer In %1</source>
        <translation>Mixer In %1</translation>
    </message>
    <message>
        <source>silent</source>
        <translation>无信号</translation>
    </message>
    <message>
        <source>%1 dB</source>
        <translation>%1 dB</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>状态栏</translation>
    </message>
</context>
<context>
    <name>Panel</name>
    <message>
        <source>无声音服务器：无电平</source>
        <translation>无声音服务器：无电平</translation>
    </message>
    <message>
        <source>未列出音频设备：无电平</source>
        <translation>未列出音频设备：无电平</translation>
    </message>
    <message>
        <source>电平表和采样率不可用；混音、静音、增益和预设照常工作。</source>
        <translation>电平表和采样率不可用；混音、静音、增益和预设照常工作。</translation>
    </message>
    <message>
        <source>初始化中...</source>
        <translation>初始化中...</translation>
    </message>
    <message>
        <source>当前设备未连接，请连接设备后使用！</source>
        <translation>当前设备未连接，请连接设备后使用！</translation>
    </message>
    <message>
        <source>序列号：%1</source>
        <translation>序列号：%1</translation>
    </message>
    <message>
        <source>固件:v%1</source>
        <translation>固件:v%1</translation>
    </message>
    <message>
        <source>采样率:%1</source>
        <translation>采样率:%1</translation>
    </message>
    <message>
        <source>硬件输入</source>
        <translation>硬件输入</translation>
    </message>
    <message>
        <source>Mic In 1</source>
        <translation>Mic In 1</translation>
    </message>
    <message>
        <source>Line/Inst In 2</source>
        <translation>Line/Inst In 2</translation>
    </message>
    <message>
        <source>Mic/Line 1-2</source>
        <translation>Mic/Line 1-2</translation>
    </message>
    <message>
        <source>OTG In 3-4</source>
        <translation>OTG In 3-4</translation>
    </message>
    <message>
        <source>HP</source>
        <translation>HP</translation>
    </message>
    <message>
        <source>OTG Out 3-4</source>
        <translation>OTG Out 3-4</translation>
    </message>
    <message>
        <source>硬件输出</source>
        <translation>硬件输出</translation>
    </message>
    <message>
        <source>OTG MAX:已连接</source>
        <translation>OTG MAX:已连接</translation>
    </message>
    <message>
        <source>OTG MAX:未连接</source>
        <translation>OTG MAX:未连接</translation>
    </message>
    <message>
        <source>Playback 1-2</source>
        <translation>Playback 1-2</translation>
    </message>
    <message>
        <source>Playback 3-4</source>
        <translation>Playback 3-4</translation>
    </message>
    <message>
        <source>Playback 5-6</source>
        <translation>Playback 5-6</translation>
    </message>
    <message>
        <source>Playback 7-8</source>
        <translation>Playback 7-8</translation>
    </message>
    <message>
        <source>软件播放</source>
        <translation>软件播放</translation>
    </message>
    <message>
        <source>Mixer In 1-2</source>
        <translation>Mixer In 1-2</translation>
    </message>
    <message>
        <source>Mixer In 3-4</source>
        <translation>Mixer In 3-4</translation>
    </message>
    <message>
        <source>Mixer In 5-6</source>
        <translation>Mixer In 5-6</translation>
    </message>
    <message>
        <source>Mixer In 7-8</source>
        <translation>Mixer In 7-8</translation>
    </message>
    <message>
        <source>混音录制</source>
        <translation>混音录制</translation>
    </message>
    <message>
        <source>Mic In 1 gain</source>
        <translation>Mic In 1 增益</translation>
    </message>
    <message>
        <source>Line/Inst In 2 gain</source>
        <translation>Line/Inst In 2 增益</translation>
    </message>
    <message>
        <source>Mic In 1 mute</source>
        <translation>Mic In 1 静音</translation>
    </message>
    <message>
        <source>Line/Inst In 2 mute</source>
        <translation>Line/Inst In 2 静音</translation>
    </message>
    <message>
        <source>Input 1 48 V</source>
        <translation>输入 1 48 V</translation>
    </message>
    <message>
        <source>Input 2 48 V</source>
        <translation>输入 2 48 V</translation>
    </message>
    <message>
        <source>Input 1 instrument</source>
        <translation>输入 1 乐器</translation>
    </message>
    <message>
        <source>Input 2 instrument</source>
        <translation>输入 2 乐器</translation>
    </message>
    <message>
        <source>on</source>
        <translation>开</translation>
    </message>
    <message>
        <source>off</source>
        <translation>关</translation>
    </message>
    <message>
        <source>HP level</source>
        <translation>HP 音量</translation>
    </message>
    <message>
        <source>OTG Out 3-4 volume</source>
        <translation>OTG Out 3-4 音量</translation>
    </message>
    <message>
        <source>HP mute</source>
        <translation>HP 静音</translation>
    </message>
    <message>
        <source>无法访问 H8 的 USB 设备</source>
        <translation>无法访问 H8 的 USB 设备</translation>
    </message>
    <message>
        <source>当前用户无权打开 H8（USB 309c:0018）。请安装 udev 规则：
%1
或安装软件包：
%2
获得权限后几秒内即可连接，无需重新插拔。</source>
        <translation>当前用户无权打开 H8（USB 309c:0018）。请安装 udev 规则：
%1
或安装软件包：
%2
获得权限后几秒内即可连接，无需重新插拔。</translation>
    </message>
    <message>
        <source>设置无法保存：%1
更改会保留，并在可以写入后立即保存。</source>
        <translation>设置无法保存：%1
更改会保留，并在可以写入后立即保存。</translation>
    </message>
    <message>
        <source>另一台 H8 已连接，未使用。</source>
        <translation>另一台 H8 已连接，未使用。</translation>
    </message>
    <message>
        <source>此会话未处于活动状态，H8 已释放给当前用户。切换回此会话后将自动重新连接。</source>
        <translation>此会话未处于活动状态，H8 已释放给当前用户。切换回此会话后将自动重新连接。</translation>
    </message>
</context>
<context>
    <name>Preset</name>
    <message>
        <source>H8 preset (*.%1)</source>
        <translation>H8 预设 (*.%1)</translation>
    </message>
    <message>
        <source>警告</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>导入的文件设备与当前设备型号不符！</source>
        <translation>导入的文件设备与当前设备型号不符！</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>无法保存预设</source>
        <translation>无法保存预设</translation>
    </message>
</context>
<context>
    <name>Text</name>
    <message>
        <source>the interface&apos;s input cannot be captured</source>
        <translation>无法采集接口的输入</translation>
    </message>
</context>
<context>
    <name>Tray</name>
    <message>
        <source>显示窗口</source>
        <translation>显示窗口</translation>
    </message>
    <message>
        <source>耳机静音</source>
        <translation>耳机静音</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>退出</translation>
    </message>
    <message>
        <source>H8 Controller：H8 未连接</source>
        <translation>H8 Controller：H8 未连接</translation>
    </message>
    <message>
        <source>H8 Controller：已连接 %1</source>
        <translation>H8 Controller：已连接 %1</translation>
    </message>
    <message>
        <source>请安装 udev 规则（h8ctl udev-rule）或软件包。打开窗口可查看详情。</source>
        <translation>请安装 udev 规则（h8ctl udev-rule）或软件包。打开窗口可查看详情。</translation>
    </message>
    <message>
        <source>设置无法保存</source>
        <translation>设置无法保存</translation>
    </message>
</context>
<context>
    <name>h8-controller</name>
    <message>
        <source>h8-controller: unknown argument &apos;%1&apos;</source>
        <translation>h8-controller：未知参数“%1”</translation>
    </message>
    <message>
        <source>Usage: h8-controller [--simulate[=STATE_FILE] [--no-sound-server]] [OPTION]...

The control panel of the H8 USB audio interface.

  --simulate[=STATE_FILE]  run on the emulated H8 instead of USB and the sound server; its
                           state is kept in STATE_FILE (default: &lt;config folder&gt;/emulated-h8.json)
  --no-sound-server        with --simulate: start as on a desktop without a sound server (the
                           &quot;Simulation&quot; menu starts one)
  --background             start without showing the window (as at login); a second start,
                           the tray icon or the desktop&apos;s launcher shows it
  --quit-after-ms N        quit after N milliseconds (for automated runs)
  --screenshot FILE        with --quit-after-ms: save the window as a PNG before quitting
  --trace                  print every control transfer to standard error
  --automation FILE        run the commands of FILE once the window is up (see automation.h)
  -h, --help               show this help
</source>
        <translation>用法：h8-controller [--simulate[=状态文件] [--no-sound-server]] [选项]...

H8 USB 音频接口的控制面板。

  --simulate[=状态文件]    使用模拟的 H8，而不是 USB 和声音服务器；其状态保存在
                           状态文件中（默认：&lt;配置文件夹&gt;/emulated-h8.json）
  --no-sound-server        与 --simulate 一起使用：如同在没有声音服务器的桌面上启动
                           （“模拟”菜单可以启动一个）
  --background             启动时不显示窗口（如登录时）；再次启动、托盘图标或
                           桌面启动器会显示窗口
  --quit-after-ms N        N 毫秒后退出（用于自动运行）
  --screenshot 文件        与 --quit-after-ms 一起使用：退出前把窗口保存为 PNG
  --trace                  把每个控制传输打印到标准错误
  --automation 文件        窗口出现后执行文件中的命令（见 automation.h）
  -h, --help               显示此帮助
</translation>
    </message>
</context>
<context>
    <name>h8::AppDelegate</name>
    <message>
        <source>&amp;File</source>
        <translation>文件(&amp;F)</translation>
    </message>
    <message>
        <source>&amp;Open…</source>
        <translation>打开(&amp;O)…</translation>
    </message>
    <message>
        <source>&amp;Save…</source>
        <translation>保存(&amp;S)…</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>退出(&amp;Q)</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>采样率</source>
        <translation>采样率</translation>
    </message>
    <message>
        <source>登录时启动</source>
        <translation>登录时启动</translation>
    </message>
    <message>
        <source>Simulation</source>
        <translation>模拟</translation>
    </message>
    <message>
        <source>H8 plugged in</source>
        <translation>H8 已插入</translation>
    </message>
    <message>
        <source>Sound server running</source>
        <translation>声音服务器运行中</translation>
    </message>
    <message>
        <source>OTG device connected</source>
        <translation>OTG 设备已连接</translation>
    </message>
    <message>
        <source>Input 1: 48 V</source>
        <translation>输入 1：48 V</translation>
    </message>
    <message>
        <source>Input 2: 48 V</source>
        <translation>输入 2：48 V</translation>
    </message>
    <message>
        <source>Input 1: instrument</source>
        <translation>输入 1：乐器</translation>
    </message>
    <message>
        <source>Input 2: instrument</source>
        <translation>输入 2：乐器</translation>
    </message>
    <message>
        <source>Input 1: jack plugged</source>
        <translation>输入 1：已插入插头</translation>
    </message>
    <message>
        <source>Input 2: jack plugged</source>
        <translation>输入 2：已插入插头</translation>
    </message>
    <message>
        <source>Turn up</source>
        <translation>调高</translation>
    </message>
    <message>
        <source>Turn down</source>
        <translation>调低</translation>
    </message>
    <message>
        <source>Input 1 gain</source>
        <translation>输入 1 增益</translation>
    </message>
    <message>
        <source>Input 2 gain</source>
        <translation>输入 2 增益</translation>
    </message>
    <message>
        <source>Headphone level</source>
        <translation>耳机音量</translation>
    </message>
    <message>
        <source>&amp;Edit</source>
        <translation>编辑(&amp;E)</translation>
    </message>
    <message>
        <source>撤销</source>
        <translation>撤销</translation>
    </message>
    <message>
        <source>重做</source>
        <translation>重做</translation>
    </message>
</context>
<context>
    <name>h8::ViewController</name>
    <message>
        <source>需要麦克风权限</source>
        <translation>需要麦克风权限</translation>
    </message>
    <message>
        <source>请在系统设置中允许此应用访问麦克风，以便使用录音功能。</source>
        <translation>请在系统设置中允许此应用访问麦克风，以便使用录音功能。</translation>
    </message>
    <message>
        <source>打开系统设置</source>
        <translation>打开系统设置</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>麦克风访问受限</source>
        <translation>麦克风访问受限</translation>
    </message>
    <message>
        <source>麦克风访问受到限制，可能是由于家长控制或企业策略导致。</source>
        <translation>麦克风访问受到限制，可能是由于家长控制或企业策略导致。</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>确定</translation>
    </message>
</context>
<context>
    <name>h8::ui::NorvInputProgressView</name>
    <message>
        <source>Drag both channels together</source>
        <translation>同时拖动两个声道</translation>
    </message>
</context>
<context>
    <name>h8::ui::NorvTMidView</name>
    <message>
        <source>Routes as rows</source>
        <translation>按行显示路由</translation>
    </message>
    <message>
        <source>Routes as a grid</source>
        <translation>按网格显示路由</translation>
    </message>
</context>
<context>
    <name>h8ctl</name>
    <message>
        <source>Try &apos;h8ctl --help&apos;.</source>
        <translation>请尝试“h8ctl --help”。</translation>
    </message>
    <message>
        <source>the H8 did not answer a request (I/O error)</source>
        <translation>H8 没有应答请求（输入/输出错误）</translation>
    </message>
    <message>
        <source>mute needs a target (input1, input2 or hp) and on|off</source>
        <translation>mute 需要一个目标（input1、input2 或 hp）和 on|off</translation>
    </message>
    <message>
        <source>mute takes on or off, not &apos;%1&apos;</source>
        <translation>mute 接受 on 或 off，而不是“%1”</translation>
    </message>
    <message>
        <source>mute target must be input1, input2 or hp, not &apos;%1&apos;</source>
        <translation>mute 的目标必须是 input1、input2 或 hp，而不是“%1”</translation>
    </message>
    <message>
        <source>sim-set needs a control and a value</source>
        <translation>sim-set 需要一个控件和一个值</translation>
    </message>
    <message>
        <source>%1 takes a code from 0 to 255, not &apos;%2&apos;</source>
        <translation>%1 接受 0 到 255 的代码，而不是“%2”</translation>
    </message>
    <message>
        <source>%1 takes on or off, not &apos;%2&apos;</source>
        <translation>%1 接受 on 或 off，而不是“%2”</translation>
    </message>
    <message>
        <source>unknown control &apos;%1&apos;</source>
        <translation>未知控件“%1”</translation>
    </message>
    <message>
        <source>--simulate= needs a file name</source>
        <translation>--simulate= 需要一个文件名</translation>
    </message>
    <message>
        <source>unknown option &apos;%1&apos;</source>
        <translation>未知选项“%1”</translation>
    </message>
    <message>
        <source>no command given</source>
        <translation>没有给出命令</translation>
    </message>
    <message>
        <source>unknown source &apos;%1&apos; (1-12 or %2)</source>
        <translation>未知的源“%1”（1-12 或 %2）</translation>
    </message>
    <message>
        <source>unknown destination &apos;%1&apos; (1-12 or %2)</source>
        <translation>未知的目标“%1”（1-12 或 %2）</translation>
    </message>
    <message>
        <source>%1 -&gt; %2 is off: the level is stored and used when the route is switched on</source>
        <translation>%1 -&gt; %2 已关闭：电平已保存，路由打开时使用</translation>
    </message>
    <message>
        <source>the sound server did not accept %1 Hz</source>
        <translation>声音服务器不接受 %1 Hz</translation>
    </message>
    <message>
        <source>the interface reports no sample rate</source>
        <translation>接口没有报告采样率</translation>
    </message>
    <message>
        <source>no sound server: the sample rate of the preset is not applied</source>
        <translation>没有声音服务器：预设的采样率未应用</translation>
    </message>
    <message>
        <source>udev-rule takes no arguments</source>
        <translation>udev-rule 不接受参数</translation>
    </message>
    <message>
        <source>status takes no arguments</source>
        <translation>status 不接受参数</translation>
    </message>
    <message>
        <source>otg-volume needs one PERCENT from 0 to 100</source>
        <translation>otg-volume 需要一个 0 到 100 的百分比</translation>
    </message>
    <message>
        <source>otg-volume takes a whole PERCENT from 0 to 100, not &apos;%1&apos;</source>
        <translation>otg-volume 接受 0 到 100 的整数百分比，而不是“%1”</translation>
    </message>
    <message>
        <source>route needs SOURCE DESTINATION on|off</source>
        <translation>route 需要 源 目标 on|off</translation>
    </message>
    <message>
        <source>route takes on or off, not &apos;%1&apos;</source>
        <translation>route 接受 on 或 off，而不是“%1”</translation>
    </message>
    <message>
        <source>level needs SOURCE DESTINATION PERCENT</source>
        <translation>level 需要 源 目标 百分比</translation>
    </message>
    <message>
        <source>level takes a whole PERCENT from 0 to 100, not &apos;%1&apos;</source>
        <translation>level 接受 0 到 100 的整数百分比，而不是“%1”</translation>
    </message>
    <message>
        <source>routes takes no arguments</source>
        <translation>routes 不接受参数</translation>
    </message>
    <message>
        <source>rate takes at most one RATE</source>
        <translation>rate 最多接受一个采样率</translation>
    </message>
    <message>
        <source>rate must be 44100, 48000, 88200 or 96000, not &apos;%1&apos;</source>
        <translation>rate 必须是 44100、48000、88200 或 96000，而不是“%1”</translation>
    </message>
    <message>
        <source>--seconds takes a whole number of seconds, not &apos;%1&apos;</source>
        <translation>--seconds 接受整数秒数，而不是“%1”</translation>
    </message>
    <message>
        <source>monitor takes only --seconds N</source>
        <translation>monitor 只接受 --seconds N</translation>
    </message>
    <message>
        <source>preset needs export|import FILE</source>
        <translation>preset 需要 export|import 文件</translation>
    </message>
    <message>
        <source>no preset file &apos;%1&apos;</source>
        <translation>没有预设文件“%1”</translation>
    </message>
    <message>
        <source>sim-set works only with --simulate</source>
        <translation>sim-set 只能与 --simulate 一起使用</translation>
    </message>
    <message>
        <source>unknown command &apos;%1&apos;</source>
        <translation>未知命令“%1”</translation>
    </message>
    <message>
        <source>H8_SIMULATE_FAULT=%1 is not stall, timeout, hang, hang@MS, denied or denied-until@MS; ignored</source>
        <translation>H8_SIMULATE_FAULT=%1 不是 stall、timeout、hang、hang@MS、denied 或 denied-until@MS；已忽略</translation>
    </message>
    <message>
        <source>cannot save the emulated H8 state: %1</source>
        <translation>无法保存模拟 H8 的状态：%1</translation>
    </message>
    <message>
        <source>no sound server: %1</source>
        <translation>没有声音服务器：%1</translation>
    </message>
    <message>
        <source>the sound server lists no H8 (USB 309C:0018)</source>
        <translation>声音服务器没有列出 H8（USB 309C:0018）</translation>
    </message>
    <message>
        <source>USB access could not start</source>
        <translation>USB 访问无法启动</translation>
    </message>
    <message>
        <source>no H8 found (USB 309c:0018)</source>
        <translation>没有找到 H8（USB 309c:0018）</translation>
    </message>
    <message>
        <source>on</source>
        <translation>开</translation>
    </message>
    <message>
        <source>off</source>
        <translation>关</translation>
    </message>
    <message>
        <source>muted</source>
        <translation>已静音</translation>
    </message>
    <message>
        <source>not muted</source>
        <translation>未静音</translation>
    </message>
    <message>
        <source>Device:            %1</source>
        <translation>设备：          %1</translation>
    </message>
    <message>
        <source>Serial number:     %1</source>
        <translation>序列号：        %1</translation>
    </message>
    <message>
        <source>Firmware:          %1</source>
        <translation>固件：          %1</translation>
    </message>
    <message>
        <source>Input %1:           %2 dB, 48V %3, instrument %4, input type %5, %6</source>
        <translation>输入 %1：        %2 dB，48V %3，乐器 %4，输入类型 %5，%6</translation>
    </message>
    <message>
        <source>Headphones:        level %1, %2</source>
        <translation>耳机：          音量 %1，%2</translation>
    </message>
    <message>
        <source>OTG:               %1, output volume %2 %</source>
        <translation>OTG：           %1，输出音量 %2 %</translation>
    </message>
    <message>
        <source>connected</source>
        <translation>已连接</translation>
    </message>
    <message>
        <source>not connected</source>
        <translation>未连接</translation>
    </message>
    <message>
        <source>the panel did not answer: %1</source>
        <translation>控制面板没有响应：%1</translation>
    </message>
    <message>
        <source>the H8 is in use by process %1, which h8ctl cannot reach over the session bus</source>
        <translation>H8 正被进程 %1 使用，h8ctl 无法通过会话总线联系它</translation>
    </message>
    <message>
        <source>no access to the H8 (USB 309c:0018): this user may not open its USB device. Install the udev rule:
  %1
or the package:
  %2</source>
        <translation>无法访问 H8（USB 309c:0018）：当前用户无权打开它的 USB 设备。请安装 udev 规则：
  %1
或安装软件包：
  %2</translation>
    </message>
    <message>
        <source>Usage: h8ctl [--simulate[=STATE_FILE]] [--verbose] [--trace] [--json] COMMAND [ARGS]

Controls an H8 audio interface over USB.

Commands:
  status                         show the device, its inputs, outputs and mutes
  mute input1|input2|hp on|off   mute or unmute an input or the headphones
  otg-volume PERCENT             set the OTG output volume (0-100)
  rate [44100|48000|88200|96000] show or set the sample rate
  route SOURCE DESTINATION on|off  switch a mixer route on (at 100 %) or off
  level SOURCE DESTINATION PERCENT set a route&apos;s level (0-100)
  routes                         show the route map with its levels
  monitor [--seconds N]          show the level of every input channel, 20 times a second
  preset export|import FILE      save the panel&apos;s state to a preset file, or load one
  udev-rule                      print the udev rule that gives the logged-in user access
  sim-set CONTROL VALUE          turn a physical control of the emulated H8 (needs --simulate)
                                 CONTROL: gain1 gain2 hp-level (code 0-255),
                                 48v1 48v2 inst1 inst2 type1 type2 otg (on|off)
                                 mixer-reset on (every crosspoint silent, as after
                                 a loss of power)

Sources: 1-12 or mic1 mic2 otg3 otg4 pb1 ... pb8
Destinations: 1-12 or hp1 hp2 otg3 otg4 loop1 ... loop8

Options:
  --simulate[=STATE_FILE]  use the emulated H8 instead of USB; its state is kept in
                           STATE_FILE (default: &lt;config folder&gt;/emulated-h8.json)
  --verbose                also print the progress lines of the USB session and of the
                           preset files to standard error (errors are always printed)
  --trace                  print every control transfer to standard error
  --json                   print results as JSON
  -h, --help               show this help

Exit codes: 0 success, 1 usage error, 2 no device or device unavailable,
            3 preset rejected (another device model, or not a preset), 4 I/O error.
</source>
        <translation>用法：h8ctl [--simulate[=状态文件]] [--verbose] [--trace] [--json] 命令 [参数]

通过 USB 控制 H8 音频接口。

命令：
  status                         显示设备及其输入、输出和静音状态
  mute input1|input2|hp on|off   将某个输入或耳机静音或取消静音
  otg-volume 百分比              设置 OTG 输出音量（0-100）
  rate [44100|48000|88200|96000] 显示或设置采样率
  route 源 目标 on|off           打开（100 %）或关闭一条混音路由
  level 源 目标 百分比           设置一条路由的电平（0-100）
  routes                         显示路由表及其电平
  monitor [--seconds N]          每秒 20 次显示每个输入声道的电平
  preset export|import 文件      把面板的状态保存到预设文件，或载入一个预设文件
  udev-rule                      打印让已登录用户访问设备的 udev 规则
  sim-set 控件 值                转动模拟 H8 的一个实体控件（需要 --simulate）
                                 控件：gain1 gain2 hp-level（代码 0-255），
                                 48v1 48v2 inst1 inst2 type1 type2 otg（on|off）
                                 mixer-reset on（所有交叉点静音，如同断电之后）

源：1-12 或 mic1 mic2 otg3 otg4 pb1 ... pb8
目标：1-12 或 hp1 hp2 otg3 otg4 loop1 ... loop8

选项：
  --simulate[=状态文件]    使用模拟的 H8，而不是 USB；其状态保存在
                           状态文件中（默认：&lt;配置文件夹&gt;/emulated-h8.json）
  --verbose                同时把 USB 会话和预设文件的进度行打印到标准错误
                           （错误总会打印）
  --trace                  把每个控制传输打印到标准错误
  --json                   以 JSON 格式打印结果
  -h, --help               显示此帮助

退出码：0 成功，1 用法错误，2 无设备或设备不可用，
        3 预设被拒绝（其他设备型号，或不是预设文件），4 输入/输出错误。
</translation>
    </message>
    <message>
        <source>%1 takes only on, not &apos;%2&apos;</source>
        <translation>%1 只接受 on，而不是“%2”</translation>
    </message>
</context>
</TS>
