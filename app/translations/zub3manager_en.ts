<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>Dialogs</name>
    <message>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>情報</source>
        <translation>Information</translation>
    </message>
</context>
<context>
    <name>TMainForm</name>
    <message>
        <source>ポートが接続されていません。</source>
        <translation>The port is not open.</translation>
    </message>
    <message>
        <source>ZPTからのデータ受信を開始・停止する</source>
        <translation>Start or stop receiving data from the ZPT</translation>
    </message>
    <message>
        <source>&#x3000;設定&#x3000;</source>
        <translation> Settings </translation>
    </message>
    <message>
        <source>ポート</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>ボーレート</source>
        <translation>Speed</translation>
    </message>
    <message>
        <source>読込間隔</source>
        <translation>Interval</translation>
    </message>
    <message>
        <source>ZUB-3から設定値を読み込みます。</source>
        <translation>Reads the settings from the ZUB-3.</translation>
    </message>
    <message>
        <source>ZUB-3へ設定値を書き出します。</source>
        <translation>Writes the settings to the ZUB-3.</translation>
    </message>
    <message>
        <source>COMポート選択</source>
        <translation>Choose the COM port</translation>
    </message>
    <message>
        <source>ボーレート選択</source>
        <translation>Choose the line speed</translation>
    </message>
    <message>
        <source>読み込み間隔を指定</source>
        <translation>Choose the reading interval</translation>
    </message>
    <message>
        <source>ID選択</source>
        <translation>Choose the ID</translation>
    </message>
    <message>
        <source>実際に送信するコマンドのバイトデータ列</source>
        <translation>The bytes of the command actually sent</translation>
    </message>
    <message>
        <source>実際に受信したコマンドのバイトデータ列</source>
        <translation>The bytes of the reply actually received</translation>
    </message>
    <message>
        <source>Baudrate:%1が指定されました。</source>
        <translation>Line speed %1 chosen.</translation>
    </message>
    <message>
        <source>ID:%1が指定されました。</source>
        <translation>ID %1 chosen.</translation>
    </message>
    <message>
        <source>読み込み間隔が%1[ms]に設定されました。</source>
        <translation>Reading interval set to %1 ms.</translation>
    </message>
    <message>
        <source>ボーレート設定が正しくないか、設定されていません。</source>
        <translation>The line speed is wrong or not chosen.</translation>
    </message>
    <message>
        <source>データ受信中</source>
        <translation>Receiving data</translation>
    </message>
    <message>
        <source>ポート%1に接続できません</source>
        <translation>Cannot connect to port %1</translation>
    </message>
    <message>
        <source>データ受信停止</source>
        <translation>Receiving stopped</translation>
    </message>
    <message>
        <source>データを受信できませんでした [%1]</source>
        <translation>No data received [%1]</translation>
    </message>
    <message>
        <source>接続状態を見直して下さい</source>
        <translation>Check the connection</translation>
    </message>
    <message>
        <source>受信できませんでした（%1）</source>
        <translation>No reply (%1)</translation>
    </message>
    <message>
        <source>受信できませんでした。ZUB-3の接続状態を確認してください。</source>
        <translation>No reply. Check the connection to the ZUB-3.</translation>
    </message>
    <message>
        <source>ボーレートは %1 です</source>
        <translation>The line speed is %1</translation>
    </message>
    <message>
        <source>IDが正しくありません。</source>
        <translation>The ID is not valid.</translation>
    </message>
    <message>
        <source>正しいボーレートが選択されていません。</source>
        <translation>No valid line speed is chosen.</translation>
    </message>
    <message>
        <source>コマンド送信失敗。接続状態を確認してください。</source>
        <translation>Sending the command failed. Check the connection.</translation>
    </message>
    <message>
        <source>コマンド送信成功</source>
        <translation>Command sent</translation>
    </message>
    <message>
        <source>コマンド送信失敗</source>
        <translation>Sending the command failed</translation>
    </message>
</context>
</TS>
