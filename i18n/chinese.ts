<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>EntryMenu</name>
    <message>
        <source>打开</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>移除列表</source>
        <translation>Remove from list</translation>
    </message>
    <message>
        <source>原文件位置</source>
        <translation>Show in folder</translation>
    </message>
</context>
<context>
    <name>FeedbackPage</name>
    <message>
        <source>Velnor使用说明</source>
        <translation>How to use Velnor</translation>
    </message>
    <message>
        <source>·请确保电脑和头显处于同一网络下</source>
        <translation>•Make sure the PC and the headset are on the same network</translation>
    </message>
    <message>
        <source>·在眼镜端搜索PC设备并选择</source>
        <translation>•On the headset, search for this PC and select it</translation>
    </message>
    <message>
        <source>·在眼镜里选择列表中的视频文件开始播放</source>
        <translation>•Pick a video from the list on the headset to start playing</translation>
    </message>
    <message>
        <source>知道了</source>
        <translation>Got it</translation>
    </message>
</context>
<context>
    <name>HelloPage</name>
    <message>
        <source>欢迎使用Velnor</source>
        <translation>Welcome to Velnor</translation>
    </message>
    <message>
        <source>Velnor需要在同一网络将PC上的视频无线传输到眼镜上进行观看。</source>
        <translation>Velnor streams the videos on this PC wirelessly to your headset over the same network.</translation>
    </message>
    <message>
        <source>知道了</source>
        <translation>Got it</translation>
    </message>
</context>
<context>
    <name>ImportMenu</name>
    <message>
        <source>导入文件夹</source>
        <translation>Import folder</translation>
    </message>
    <message>
        <source>导入视频文件</source>
        <translation>Import videos</translation>
    </message>
</context>
<context>
    <name>ListBrowser</name>
    <message>
        <source>文件名称</source>
        <translation>File name</translation>
    </message>
    <message>
        <source>分辨率</source>
        <translation>Resolution</translation>
    </message>
    <message>
        <source>时长</source>
        <translation>Duration</translation>
    </message>
    <message>
        <source>大小</source>
        <translation>Size</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>未知</source>
        <translation>Unknown</translation>
    </message>
    <message>
        <source>首页</source>
        <translation>Home</translation>
    </message>
    <message>
        <source>文件信息异常！</source>
        <translation>The file information is invalid!</translation>
    </message>
    <message>
        <source>不支持的文件格式：</source>
        <translation>Unsupported file format: </translation>
    </message>
    <message>
        <source>设置用户名失败！无效的命名</source>
        <translation>Could not set the device name! The name is not valid</translation>
    </message>
    <message>
        <source>设置用户名失败！</source>
        <translation>Could not set the device name!</translation>
    </message>
    <message>
        <source>获取用户名失败！</source>
        <translation>Could not read the device name!</translation>
    </message>
    <message>
        <source>导入成功%1个文件</source>
        <translation>Imported %1 file(s)</translation>
    </message>
    <message>
        <source>导入成功%1个文件，导入失败%2个</source>
        <translation>Imported %1 file(s), %2 failed</translation>
    </message>
    <message>
        <source>导入失败: </source>
        <translation>Import failed: </translation>
    </message>
    <message>
        <source>媒体服务未运行，正在重新启动，请稍后再试</source>
        <translation>The media service is not running and is being restarted. Please try again in a moment.</translation>
    </message>
    <message>
        <source>版本：</source>
        <translation>Version: </translation>
    </message>
</context>
<context>
    <name>SetUserName</name>
    <message>
        <source>修改设备ID</source>
        <translation>Rename this PC</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>SettingPage</name>
    <message>
        <source>视图选择</source>
        <translation>View</translation>
    </message>
    <message>
        <source>看板视图</source>
        <translation>Grid view</translation>
    </message>
    <message>
        <source>表格视图</source>
        <translation>List view</translation>
    </message>
    <message>
        <source>排序标准</source>
        <translation>Sort by</translation>
    </message>
    <message>
        <source>名称</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>日期</source>
        <translation>Date</translation>
    </message>
    <message>
        <source>大小</source>
        <translation>Size</translation>
    </message>
    <message>
        <source>升降序</source>
        <translation>Order</translation>
    </message>
    <message>
        <source>升序</source>
        <translation>Ascending</translation>
    </message>
    <message>
        <source>降序</source>
        <translation>Descending</translation>
    </message>
</context>
<context>
    <name>SettingsPopup</name>
    <message>
        <source>Velnor</source>
        <translation>Velnor</translation>
    </message>
    <message>
        <source>设备ID：</source>
        <translation>Device ID: </translation>
    </message>
    <message>
        <source>在 DeoVR 或 HereSphere 中输入：</source>
        <translation>Type into DeoVR or HereSphere:</translation>
    </message>
</context>
<context>
    <name>SingleAppTip</name>
    <message>
        <source>提示</source>
        <translation>Notice</translation>
    </message>
    <message>
        <source>应用程序已打开</source>
        <translation>The assistant is already running</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>TipsPage</name>
    <message>
        <source>知道了</source>
        <translation>Got it</translation>
    </message>
</context>
<context>
    <name>TitleBar</name>
    <message>
        <source>导入</source>
        <translation>Import</translation>
    </message>
    <message>
        <source>Velnor</source>
        <translation>Velnor</translation>
    </message>
    <message>
        <source>需与眼镜端在同一网络下</source>
        <translation>Keep the headset on the same network</translation>
    </message>
</context>
<context>
    <name>UpdatePage</name>
    <message>
        <source>自动更新</source>
        <translation>Update</translation>
    </message>
    <message>
        <source>您的KIVVelnor工具需安装如下更新才能使用</source>
        <translation>Install this update to keep using KIVVelnor</translation>
    </message>
    <message>
        <source>此版本为强更，取消后将关闭程序</source>
        <translation>This update is required: cancelling closes the program</translation>
    </message>
    <message>
        <source>立即安装</source>
        <translation>Install now</translation>
    </message>
    <message>
        <source>安装失败请重试！</source>
        <translation>Installation failed. Please try again!</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>WaitPage</name>
    <message>
        <source>视频文件导入中，请耐心等待</source>
        <translation>Importing videos, please wait</translation>
    </message>
    <message>
        <source>加载中…</source>
        <translation>Loading…</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>mainWindow</name>
    <message>
        <source>Velnor</source>
        <translation>Velnor</translation>
    </message>
    <message>
        <source>拖拽视频或文件到此处</source>
        <translation>Drop videos or folders here</translation>
    </message>
</context>
</TS>
