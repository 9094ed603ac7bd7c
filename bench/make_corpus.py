#!/usr/bin/env python3
"""Writes a benchmark corpus of Japanese prose: text files in Shift_JIS, EUC-JP
and UTF-8, CSV and HTML files. Usage: make_corpus.py DIR FILES MEGABYTES"""
import os
import random
import sys

SUBJECTS = ["当社", "お客様", "営業部", "総務課", "担当者", "プロジェクト", "委員会", "取引先", "設計チーム",
            "管理部門", "株式会社サンプル", "東京支店", "大阪営業所", "品質保証部"]
OBJECTS = ["見積書", "契約書", "請求書", "議事録", "報告書", "仕様書", "提案書", "発注書", "納品書",
           "工程表", "予算案", "図面", "マニュアル", "アンケート結果"]
VERBS = ["を作成しました", "を確認してください", "を送付いたします", "について検討します",
         "を修正しました", "の承認をお願いします", "を提出しました", "を共有します", "を更新しました"]
TAILS = ["。", "。よろしくお願いいたします。", "。詳細は別紙をご参照ください。",
         "。ご不明な点がございましたらご連絡ください。", "。期限は来週の金曜日です。"]
NUMBERS = ["1,234", "56,789", "２０２６年１２月", "第３四半期", "ｶﾀｶﾅ", "ＡＢＣ", "abc", "No.42"]


def sentence(rng):
    s = rng.choice(SUBJECTS) + "は" + rng.choice(OBJECTS) + rng.choice(VERBS)
    if rng.random() < 0.3:
        s += "（" + rng.choice(NUMBERS) + "）"
    return s + rng.choice(TAILS)


def paragraph(rng, size):
    out = []
    n = 0
    while n < size:
        s = sentence(rng)
        out.append(s)
        n += len(s) * 2
        if rng.random() < 0.1:
            out.append("\r\n")
    return "".join(out)


def main():
    root, files, megabytes = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    rng = random.Random(42)
    per_file = megabytes * 1024 * 1024 // files
    kinds = ["sjis.txt", "euc.txt", "utf8.txt", "csv", "html"]
    for i in range(files):
        folder = os.path.join(root, "d%03d" % (i // 200))
        os.makedirs(folder, exist_ok=True)
        kind = kinds[i % len(kinds)]
        size = max(1024, int(per_file * rng.uniform(0.5, 1.5)))
        body = paragraph(rng, size)
        if kind == "csv":
            words = body.replace("\r\n", "").split("。")
            body = "\r\n".join(",".join(words[j:j + 4]) for j in range(0, len(words), 4))
            data, name = body.encode("cp932", "replace"), "f%05d.csv" % i
        elif kind == "html":
            body = "<html><head><meta charset=\"utf-8\"><title>資料</title></head><body>" + \
                body.replace("。", "。</p>\n<p>") + "</body></html>"
            data, name = body.encode("utf-8"), "f%05d.html" % i
        else:
            enc = {"sjis.txt": "cp932", "euc.txt": "euc_jp", "utf8.txt": "utf-8"}[kind]
            data, name = body.encode(enc, "replace"), "f%05d_%s" % (i, kind)
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
