<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>SettingsLists</name>
    <message>
        <source>ﾏｽﾀ-</source>
        <translation>Master</translation>
    </message>
    <message>
        <source>ｽﾚｰﾌﾞ</source>
        <translation>Slave</translation>
    </message>
    <message>
        <source>ｼﾝｸﾞﾙ</source>
        <translation>Single</translation>
    </message>
    <message>
        <source>ﾀﾞｲﾊﾞｰｼﾃｨ</source>
        <translation>Diversity</translation>
    </message>
    <message>
        <source>なし</source>
        <translation>None</translation>
    </message>
    <message>
        <source>偶数</source>
        <translation>Even</translation>
    </message>
    <message>
        <source>奇数</source>
        <translation>Odd</translation>
    </message>
    <message>
        <source>1ﾋﾞｯﾄ</source>
        <translation>1 bit</translation>
    </message>
    <message>
        <source>2ﾋﾞｯﾄ</source>
        <translation>2 bits</translation>
    </message>
</context>
<context>
    <name>frmCom</name>
    <message>
        <source>通信ポート選択</source>
        <translation>Select serial port</translation>
    </message>
</context>
<context>
    <name>frmMain</name>
    <message>
        <source>通信設定</source>
        <translation>Port settings</translation>
    </message>
    <message>
        <source>終了</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>バージョン情報</source>
        <translation>About</translation>
    </message>
</context>
<context>
    <name>frmSet</name>
    <message>
        <source>周波数バンド</source>
        <translation>Band</translation>
    </message>
    <message>
        <source>周波数チャンネル</source>
        <translation>Channel</translation>
    </message>
    <message>
        <source>動作タイプ</source>
        <translation>Operating type</translation>
    </message>
    <message>
        <source>(ﾏｽﾀ-/ｽﾚｰﾌﾞ)</source>
        <translation>(Master/Slave)</translation>
    </message>
    <message>
        <source>アンテナ</source>
        <translation>Antenna</translation>
    </message>
    <message>
        <source>(ｼﾝｸﾞﾙ/ﾀﾞｲﾊﾞｰｼﾃｨ)</source>
        <translation>(Single/Diversity)</translation>
    </message>
    <message>
        <source>ボーレート</source>
        <translation>Baud rate</translation>
    </message>
    <message>
        <source>データ長</source>
        <translation>Data length</translation>
    </message>
    <message>
        <source>パリティ</source>
        <translation>Parity</translation>
    </message>
    <message>
        <source>ストップビット</source>
        <translation>Stop bits</translation>
    </message>
    <message>
        <source>フロー制御</source>
        <translation>Flow control</translation>
    </message>
    <message>
        <source>設定</source>
        <translation>Write</translation>
    </message>
    <message>
        <source>読込</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>バージョン読込</source>
        <translation>Read version</translation>
    </message>
</context>
</TS>
