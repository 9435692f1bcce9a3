<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="zh_CN">
<context>
    <name>Accessibility</name>
    <message>
        <source>%1 level</source>
        <translation>%1 level</translation>
    </message>
    <message>
        <source>Link %1</source>
        <translation>Link %1</translation>
    </message>
    <message>
        <source>%1 name</source>
        <translation>%1 name</translation>
    </message>
    <message>
        <source>%1 volume</source>
        <translation>%1 volume</translation>
    </message>
    <message>
        <source>%1 to %2</source>
        <translation>%1 to %2</translation>
    </message>
    <message>
        <source>on, %1 %</source>
        <translation>on, %1 %</translation>
    </message>
    <message>
        <source>off</source>
        <translation>off</translation>
    </message>
    <message>
        <source>route</source>
        <translation>route</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Remove</translation>
    </message>
    <message>
        <source>Removes the route</source>
        <translation>Removes the route</translation>
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
        <translation>silent</translation>
    </message>
    <message>
        <source>%1 dB</source>
        <translation>%1 dB</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Status</translation>
    </message>
</context>
<context>
    <name>Panel</name>
    <message>
        <source>无声音服务器：无电平</source>
        <translation>No sound server: no levels</translation>
    </message>
    <message>
        <source>未列出音频设备：无电平</source>
        <translation>Audio device not listed: no levels</translation>
    </message>
    <message>
        <source>电平表和采样率不可用；混音、静音、增益和预设照常工作。</source>
        <translation>Level meters and the sample rate are unavailable; mixing, mutes, gain and presets work as usual.</translation>
    </message>
    <message>
        <source>初始化中...</source>
        <translation>Initializing...</translation>
    </message>
    <message>
        <source>当前设备未连接，请连接设备后使用！</source>
        <translation>The device is not connected. Connect it to use the panel!</translation>
    </message>
    <message>
        <source>序列号：%1</source>
        <translation>S/N: %1</translation>
    </message>
    <message>
        <source>固件:v%1</source>
        <translation>Firmware: v%1</translation>
    </message>
    <message>
        <source>采样率:%1</source>
        <translation>Rate: %1</translation>
    </message>
    <message>
        <source>硬件输入</source>
        <translation>Hardware Inputs</translation>
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
        <translation>Hardware Outputs</translation>
    </message>
    <message>
        <source>OTG MAX:已连接</source>
        <translation>OTG MAX: online</translation>
    </message>
    <message>
        <source>OTG MAX:未连接</source>
        <translation>OTG MAX: offline</translation>
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
        <translation>Software Playback</translation>
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
        <translation>Mix Recording</translation>
    </message>
    <message>
        <source>Mic In 1 gain</source>
        <translation>Mic In 1 gain</translation>
    </message>
    <message>
        <source>Line/Inst In 2 gain</source>
        <translation>Line/Inst In 2 gain</translation>
    </message>
    <message>
        <source>Mic In 1 mute</source>
        <translation>Mic In 1 mute</translation>
    </message>
    <message>
        <source>Line/Inst In 2 mute</source>
        <translation>Line/Inst In 2 mute</translation>
    </message>
    <message>
        <source>Input 1 48 V</source>
        <translation>Input 1 48 V</translation>
    </message>
    <message>
        <source>Input 2 48 V</source>
        <translation>Input 2 48 V</translation>
    </message>
    <message>
        <source>Input 1 instrument</source>
        <translation>Input 1 instrument</translation>
    </message>
    <message>
        <source>Input 2 instrument</source>
        <translation>Input 2 instrument</translation>
    </message>
    <message>
        <source>on</source>
        <translation>on</translation>
    </message>
    <message>
        <source>off</source>
        <translation>off</translation>
    </message>
    <message>
        <source>HP level</source>
        <translation>HP level</translation>
    </message>
    <message>
        <source>OTG Out 3-4 volume</source>
        <translation>OTG Out 3-4 volume</translation>
    </message>
    <message>
        <source>HP mute</source>
        <translation>HP mute</translation>
    </message>
    <message>
        <source>无法访问 H8 的 USB 设备</source>
        <translation>No access to the H8&apos;s USB device</translation>
    </message>
    <message>
        <source>当前用户无权打开 H8（USB 309c:0018）。请安装 udev 规则：
%1
或安装软件包：
%2
获得权限后几秒内即可连接，无需重新插拔。</source>
        <translation>This user may not open the H8 (USB 309c:0018). Install the udev rule:
%1
or install the package:
%2
Once access is granted the H8 is bound within seconds, without a re-plug.</translation>
    </message>
    <message>
        <source>设置无法保存：%1
更改会保留，并在可以写入后立即保存。</source>
        <translation>Settings cannot be saved: %1
Your changes are kept and saved as soon as writing works again.</translation>
    </message>
    <message>
        <source>另一台 H8 已连接，未使用。</source>
        <translation>Another H8 is connected and is not used.</translation>
    </message>
    <message>
        <source>此会话未处于活动状态，H8 已释放给当前用户。切换回此会话后将自动重新连接。</source>
        <translation>This session is not the active one: the H8 is left to the user who is. It reconnects when you switch back to this session.</translation>
    </message>
</context>
<context>
    <name>Preset</name>
    <message>
        <source>H8 preset (*.%1)</source>
        <translation>H8 preset (*.%1)</translation>
    </message>
    <message>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>导入的文件设备与当前设备型号不符！</source>
        <translation>The imported file is for a different device model than the connected one!</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>无法保存预设</source>
        <translation>The preset cannot be saved</translation>
    </message>
</context>
<context>
    <name>Text</name>
    <message>
        <source>the interface&apos;s input cannot be captured</source>
        <translation>the interface&apos;s input cannot be captured</translation>
    </message>
</context>
<context>
    <name>Tray</name>
    <message>
        <source>显示窗口</source>
        <translation>Show Window</translation>
    </message>
    <message>
        <source>耳机静音</source>
        <translation>Mute Headphones</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>H8 Controller：H8 未连接</source>
        <translation>H8 Controller: no H8 connected</translation>
    </message>
    <message>
        <source>H8 Controller：已连接 %1</source>
        <translation>H8 Controller: %1 connected</translation>
    </message>
    <message>
        <source>请安装 udev 规则（h8ctl udev-rule）或软件包。打开窗口可查看详情。</source>
        <translation>Install the udev rule (h8ctl udev-rule) or the package. Open the window for details.</translation>
    </message>
    <message>
        <source>设置无法保存</source>
        <translation>Settings cannot be saved</translation>
    </message>
</context>
<context>
    <name>h8-controller</name>
    <message>
        <source>h8-controller: unknown argument &apos;%1&apos;</source>
        <translation>h8-controller: unknown argument &apos;%1&apos;</translation>
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
        <translation>Usage: h8-controller [--simulate[=STATE_FILE] [--no-sound-server]] [OPTION]...

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
</translation>
    </message>
</context>
<context>
    <name>h8::AppDelegate</name>
    <message>
        <source>&amp;File</source>
        <translation>&amp;File</translation>
    </message>
    <message>
        <source>&amp;Open…</source>
        <translation>&amp;Open…</translation>
    </message>
    <message>
        <source>&amp;Save…</source>
        <translation>&amp;Save…</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Quit</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>采样率</source>
        <translation>Sample Rate</translation>
    </message>
    <message>
        <source>登录时启动</source>
        <translation>Start at Login</translation>
    </message>
    <message>
        <source>Simulation</source>
        <translation>Simulation</translation>
    </message>
    <message>
        <source>H8 plugged in</source>
        <translation>H8 plugged in</translation>
    </message>
    <message>
        <source>Sound server running</source>
        <translation>Sound server running</translation>
    </message>
    <message>
        <source>OTG device connected</source>
        <translation>OTG device connected</translation>
    </message>
    <message>
        <source>Input 1: 48 V</source>
        <translation>Input 1: 48 V</translation>
    </message>
    <message>
        <source>Input 2: 48 V</source>
        <translation>Input 2: 48 V</translation>
    </message>
    <message>
        <source>Input 1: instrument</source>
        <translation>Input 1: instrument</translation>
    </message>
    <message>
        <source>Input 2: instrument</source>
        <translation>Input 2: instrument</translation>
    </message>
    <message>
        <source>Input 1: jack plugged</source>
        <translation>Input 1: jack plugged</translation>
    </message>
    <message>
        <source>Input 2: jack plugged</source>
        <translation>Input 2: jack plugged</translation>
    </message>
    <message>
        <source>Turn up</source>
        <translation>Turn up</translation>
    </message>
    <message>
        <source>Turn down</source>
        <translation>Turn down</translation>
    </message>
    <message>
        <source>Input 1 gain</source>
        <translation>Input 1 gain</translation>
    </message>
    <message>
        <source>Input 2 gain</source>
        <translation>Input 2 gain</translation>
    </message>
    <message>
        <source>Headphone level</source>
        <translation>Headphone level</translation>
    </message>
    <message>
        <source>&amp;Edit</source>
        <translation>&amp;Edit</translation>
    </message>
    <message>
        <source>撤销</source>
        <translation>Undo</translation>
    </message>
    <message>
        <source>重做</source>
        <translation>Redo</translation>
    </message>
</context>
<context>
    <name>h8::ViewController</name>
    <message>
        <source>需要麦克风权限</source>
        <translation>Microphone Access Needed</translation>
    </message>
    <message>
        <source>请在系统设置中允许此应用访问麦克风，以便使用录音功能。</source>
        <translation>Allow this application to use the microphone in the system settings, so that recording works.</translation>
    </message>
    <message>
        <source>打开系统设置</source>
        <translation>Open System Settings</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>麦克风访问受限</source>
        <translation>Microphone Access Restricted</translation>
    </message>
    <message>
        <source>麦克风访问受到限制，可能是由于家长控制或企业策略导致。</source>
        <translation>Microphone access is restricted, possibly by parental controls or an organization&apos;s policy.</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>h8::ui::NorvInputProgressView</name>
    <message>
        <source>Drag both channels together</source>
        <translation>Drag both channels together</translation>
    </message>
</context>
<context>
    <name>h8::ui::NorvTMidView</name>
    <message>
        <source>Routes as rows</source>
        <translation>Routes as rows</translation>
    </message>
    <message>
        <source>Routes as a grid</source>
        <translation>Routes as a grid</translation>
    </message>
</context>
<context>
    <name>h8ctl</name>
    <message>
        <source>Try &apos;h8ctl --help&apos;.</source>
        <translation>Try &apos;h8ctl --help&apos;.</translation>
    </message>
    <message>
        <source>the H8 did not answer a request (I/O error)</source>
        <translation>the H8 did not answer a request (I/O error)</translation>
    </message>
    <message>
        <source>mute needs a target (input1, input2 or hp) and on|off</source>
        <translation>mute needs a target (input1, input2 or hp) and on|off</translation>
    </message>
    <message>
        <source>mute takes on or off, not &apos;%1&apos;</source>
        <translation>mute takes on or off, not &apos;%1&apos;</translation>
    </message>
    <message>
        <source>mute target must be input1, input2 or hp, not &apos;%1&apos;</source>
        <translation>mute target must be input1, input2 or hp, not &apos;%1&apos;</translation>
    </message>
    <message>
        <source>sim-set needs a control and a value</source>
        <translation>sim-set needs a control and a value</translation>
    </message>
    <message>
        <source>%1 takes a code from 0 to 255, not &apos;%2&apos;</source>
        <translation>%1 takes a code from 0 to 255, not &apos;%2&apos;</translation>
    </message>
    <message>
        <source>%1 takes on or off, not &apos;%2&apos;</source>
        <translation>%1 takes on or off, not &apos;%2&apos;</translation>
    </message>
    <message>
        <source>unknown control &apos;%1&apos;</source>
        <translation>unknown control &apos;%1&apos;</translation>
    </message>
    <message>
        <source>--simulate= needs a file name</source>
        <translation>--simulate= needs a file name</translation>
    </message>
    <message>
        <source>unknown option &apos;%1&apos;</source>
        <translation>unknown option &apos;%1&apos;</translation>
    </message>
    <message>
        <source>no command given</source>
        <translation>no command given</translation>
    </message>
    <message>
        <source>unknown source &apos;%1&apos; (1-12 or %2)</source>
        <translation>unknown source &apos;%1&apos; (1-12 or %2)</translation>
    </message>
    <message>
        <source>unknown destination &apos;%1&apos; (1-12 or %2)</source>
        <translation>unknown destination &apos;%1&apos; (1-12 or %2)</translation>
    </message>
    <message>
        <source>%1 -&gt; %2 is off: the level is stored and used when the route is switched on</source>
        <translation>%1 -&gt; %2 is off: the level is stored and used when the route is switched on</translation>
    </message>
    <message>
        <source>the sound server did not accept %1 Hz</source>
        <translation>the sound server did not accept %1 Hz</translation>
    </message>
    <message>
        <source>the interface reports no sample rate</source>
        <translation>the interface reports no sample rate</translation>
    </message>
    <message>
        <source>no sound server: the sample rate of the preset is not applied</source>
        <translation>no sound server: the sample rate of the preset is not applied</translation>
    </message>
    <message>
        <source>udev-rule takes no arguments</source>
        <translation>udev-rule takes no arguments</translation>
    </message>
    <message>
        <source>status takes no arguments</source>
        <translation>status takes no arguments</translation>
    </message>
    <message>
        <source>otg-volume needs one PERCENT from 0 to 100</source>
        <translation>otg-volume needs one PERCENT from 0 to 100</translation>
    </message>
    <message>
        <source>otg-volume takes a whole PERCENT from 0 to 100, not &apos;%1&apos;</source>
        <translation>otg-volume takes a whole PERCENT from 0 to 100, not &apos;%1&apos;</translation>
    </message>
    <message>
        <source>route needs SOURCE DESTINATION on|off</source>
        <translation>route needs SOURCE DESTINATION on|off</translation>
    </message>
    <message>
        <source>route takes on or off, not &apos;%1&apos;</source>
        <translation>route takes on or off, not &apos;%1&apos;</translation>
    </message>
    <message>
        <source>level needs SOURCE DESTINATION PERCENT</source>
        <translation>level needs SOURCE DESTINATION PERCENT</translation>
    </message>
    <message>
        <source>level takes a whole PERCENT from 0 to 100, not &apos;%1&apos;</source>
        <translation>level takes a whole PERCENT from 0 to 100, not &apos;%1&apos;</translation>
    </message>
    <message>
        <source>routes takes no arguments</source>
        <translation>routes takes no arguments</translation>
    </message>
    <message>
        <source>rate takes at most one RATE</source>
        <translation>rate takes at most one RATE</translation>
    </message>
    <message>
        <source>rate must be 44100, 48000, 88200 or 96000, not &apos;%1&apos;</source>
        <translation>rate must be 44100, 48000, 88200 or 96000, not &apos;%1&apos;</translation>
    </message>
    <message>
        <source>--seconds takes a whole number of seconds, not &apos;%1&apos;</source>
        <translation>--seconds takes a whole number of seconds, not &apos;%1&apos;</translation>
    </message>
    <message>
        <source>monitor takes only --seconds N</source>
        <translation>monitor takes only --seconds N</translation>
    </message>
    <message>
        <source>preset needs export|import FILE</source>
        <translation>preset needs export|import FILE</translation>
    </message>
    <message>
        <source>no preset file &apos;%1&apos;</source>
        <translation>no preset file &apos;%1&apos;</translation>
    </message>
    <message>
        <source>sim-set works only with --simulate</source>
        <translation>sim-set works only with --simulate</translation>
    </message>
    <message>
        <source>unknown command &apos;%1&apos;</source>
        <translation>unknown command &apos;%1&apos;</translation>
    </message>
    <message>
        <source>H8_SIMULATE_FAULT=%1 is not stall, timeout, hang, hang@MS, denied or denied-until@MS; ignored</source>
        <translation>H8_SIMULATE_FAULT=%1 is not stall, timeout, hang, hang@MS, denied or denied-until@MS; ignored</translation>
    </message>
    <message>
        <source>cannot save the emulated H8 state: %1</source>
        <translation>cannot save the emulated H8 state: %1</translation>
    </message>
    <message>
        <source>no sound server: %1</source>
        <translation>no sound server: %1</translation>
    </message>
    <message>
        <source>the sound server lists no H8 (USB 309C:0018)</source>
        <translation>the sound server lists no H8 (USB 309C:0018)</translation>
    </message>
    <message>
        <source>USB access could not start</source>
        <translation>USB access could not start</translation>
    </message>
    <message>
        <source>no H8 found (USB 309c:0018)</source>
        <translation>no H8 found (USB 309c:0018)</translation>
    </message>
    <message>
        <source>on</source>
        <translation>on</translation>
    </message>
    <message>
        <source>off</source>
        <translation>off</translation>
    </message>
    <message>
        <source>muted</source>
        <translation>muted</translation>
    </message>
    <message>
        <source>not muted</source>
        <translation>not muted</translation>
    </message>
    <message>
        <source>Device:            %1</source>
        <translation>Device:            %1</translation>
    </message>
    <message>
        <source>Serial number:     %1</source>
        <translation>Serial number:     %1</translation>
    </message>
    <message>
        <source>Firmware:          %1</source>
        <translation>Firmware:          %1</translation>
    </message>
    <message>
        <source>Input %1:           %2 dB, 48V %3, instrument %4, input type %5, %6</source>
        <translation>Input %1:           %2 dB, 48V %3, instrument %4, input type %5, %6</translation>
    </message>
    <message>
        <source>Headphones:        level %1, %2</source>
        <translation>Headphones:        level %1, %2</translation>
    </message>
    <message>
        <source>OTG:               %1, output volume %2 %</source>
        <translation>OTG:               %1, output volume %2 %</translation>
    </message>
    <message>
        <source>connected</source>
        <translation>connected</translation>
    </message>
    <message>
        <source>not connected</source>
        <translation>not connected</translation>
    </message>
    <message>
        <source>the panel did not answer: %1</source>
        <translation>the panel did not answer: %1</translation>
    </message>
    <message>
        <source>the H8 is in use by process %1, which h8ctl cannot reach over the session bus</source>
        <translation>the H8 is in use by process %1, which h8ctl cannot reach over the session bus</translation>
    </message>
    <message>
        <source>no access to the H8 (USB 309c:0018): this user may not open its USB device. Install the udev rule:
  %1
or the package:
  %2</source>
        <translation>no access to the H8 (USB 309c:0018): this user may not open its USB device. Install the udev rule:
  %1
or the package:
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
        <translation>Usage: h8ctl [--simulate[=STATE_FILE]] [--verbose] [--trace] [--json] COMMAND [ARGS]

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
</translation>
    </message>
    <message>
        <source>%1 takes only on, not &apos;%2&apos;</source>
        <translation>%1 takes only on, not &apos;%2&apos;</translation>
    </message>
</context>
</TS>
